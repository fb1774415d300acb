#include "render/internal/shading.h"

#include "assets/texture.h"

#include "sys/log.h"
#include <algorithm>

namespace lumo {

namespace {

const TextureImage* textureFor(const Pipeline& pipeline, int textureIndex) {
    if (!pipeline.textures || pipeline.textures->size() == 0) {
        return nullptr;
    }
    const TextureStore& store = *pipeline.textures;
    // An index the store does not hold shows the placeholder, like an unknown name.
    int index = textureIndex < store.size() ? textureIndex : 0;
    return store[index].image.get();
}

} // namespace

void VertexColorCache::begin(int vertexCount) {
    if (entries_.size() < size_t(vertexCount)) {
        entries_.resize(size_t(vertexCount));
    }
    if (++stamp_ == 0) {
        // After 2^32 calls the stamps come round again: forget them all.
        for (Entry& e : entries_) {
            e.stamp = 0;
        }
        stamp_ = 1;
    }
}

void shadeFaces(const Pipeline& pipeline, Pass pass, int rowBegin, int rowEnd, ColorBuffer& color,
                DepthBuffer& depth, StencilBuffer* stencil, int lightIndex, RasterStats* stats,
                VertexColorCache* cache) {
    RasterTarget target;
    target.color = &color;
    target.depth = &depth;
    target.rowBegin = rowBegin;
    target.rowEnd = rowEnd;
    target.stats = stats;
    RasterTarget masked = target;
    masked.stencil = stencil;

    const Light* light = nullptr;
    if (pass == Pass::Light && lightIndex >= 0 && lightIndex < pipeline.lightCount) {
        light = pipeline.lights[lightIndex];
    }
    const float ambient = pipeline.ambient;
    const float fRowBegin = float(rowBegin);
    const float fRowEnd = float(rowEnd);

    if (cache) {
        cache->begin(pipeline.vertexCount);
    }
    // The colour of corner k, through the cache when there is one.
    auto vertexColor = [&](const Pipeline::DrawFace& face, int k, auto&& compute) {
        const int v = face.vertexIndex[k];
        const int normal = face.normalIndex[k];
        if (!cache) {
            return compute();
        }
        if (const vec4* hit = cache->find(v, normal, face.material)) {
            return *hit;
        }
        vec4 c = compute();
        cache->store(v, normal, face.material, c);
        return c;
    };

    RasterInputs in;
    for (int n = 0; n < pipeline.faceCount; ++n) {
        const Pipeline::DrawFace& face = pipeline.drawList[n];
        if (face.minY > fRowEnd || face.maxY < fRowBegin) {
            continue;
        }
        if (n + 1 < pipeline.faceCount) {
            // The vertices of the next face are scattered over the pool.
            const Pipeline::DrawFace& next = pipeline.drawList[n + 1];
            for (int k = 0; k < 3; ++k) {
                __builtin_prefetch(&pipeline.vertices[next.vertexIndex[k]]);
            }
        }
        const PipelineVertex* v[3] = {&pipeline.vertices[face.vertexIndex[0]],
                                      &pipeline.vertices[face.vertexIndex[1]],
                                      &pipeline.vertices[face.vertexIndex[2]]};
        const Material* material = face.material;
        if (!material) {
            continue;
        }
        for (int k = 0; k < 3; ++k) {
            in.screen[k] = v[k]->screenPos;
        }
        auto lightingInputs = [&] {
            for (int k = 0; k < 3; ++k) {
                in.position[k] = v[k]->viewPos;
                in.normal[k] = pipeline.normals[face.normalIndex[k]];
            }
        };
        // Per-vertex colour from all lights: D x ambient + S + ambient / 4.
        auto allLightsColors = [&] {
            for (int k = 0; k < 3; ++k) {
                in.color[k] = vertexColor(face, k, [&] {
                    LightResult r =
                        lightVertexAll(pipeline.lights, pipeline.lightCount, v[k]->viewPos,
                                       pipeline.normals[face.normalIndex[k]], material->shininess);
                    float q = ambient / 4.0f;
                    return r.diffuse * ambient + r.specular + vec4(q, q, q, q);
                });
            }
        };

        switch (material->shaderType) {
        case ShaderType::Plain:
            if (material->textureIndex >= 1) {
                if (pass != Pass::Ambient) {
                    break;
                }
                in.texture = textureFor(pipeline, material->textureIndex);
                for (int k = 0; k < 3; ++k) {
                    in.position[k] = v[k]->viewPos;
                    in.texcoord[k] = pipeline.texcoords[face.texcoordIndex[k]];
                }
                rasterize(Member::Textured, target, in);
            } else if (pass == Pass::Ambient) {
                in.color[0] = material->diffuse * ambient;
                rasterize(Member::Flat, target, in);
            } else if (light) {
                if (pipeline.pixelLighting) {
                    lightingInputs();
                    in.light = light;
                    in.diffuse = material->diffuse;
                    in.shininess = material->shininess;
                    rasterize(Member::LitOneMasked, masked, in);
                } else {
                    for (int k = 0; k < 3; ++k) {
                        in.color[k] = vertexColor(face, k, [&] {
                            LightResult r = lightVertex(*light, v[k]->viewPos,
                                                        pipeline.normals[face.normalIndex[k]],
                                                        material->shininess);
                            return mul(r.diffuse, material->diffuse) + r.specular;
                        });
                    }
                    rasterize(stencil ? Member::GouraudAddMasked : Member::GouraudAdd, masked, in);
                }
            }
            break;
        case ShaderType::Invisible:
            break;
        case ShaderType::LitAll:
            lightingInputs();
            in.lights = pipeline.lights;
            in.lightCount = pipeline.lightCount;
            in.ambient = ambient;
            in.shininess = material->shininess;
            rasterize(Member::LitAll, target, in);
            break;
        case ShaderType::GouraudAll:
            allLightsColors();
            rasterize(Member::Gouraud, target, in);
            break;
        case ShaderType::Additive:
            allLightsColors();
            rasterize(Member::GouraudAdd, target, in);
            break;
        default:
            logPrintf("unknown shader type %d\n", int(material->shaderType));
            break;
        }
    }
}

} // namespace lumo
