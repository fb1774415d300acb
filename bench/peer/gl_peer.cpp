#include "bench/peer/gl_peer.h"

#include "math/viewport.h"
#include "sys/log.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#define GL_GLEXT_PROTOTYPES
#include <GL/glcorearb.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <map>
#include <string_view>

namespace lumo {

namespace {

// lumo's resolve turns 1.0 into 256 (capped at 255); an RGBA8 target turns it
// into 255. Scaling every colour by this makes the same values the same bytes.
constexpr float kResolveScale = 256.0f / 255.0f;

// ---- Shaders ---------------------------------------------------------------

// The head of every vertex shader: the one expression that places a vertex,
// declared invariant, so that every pass gets the same depths.
constexpr const char* kVertexHead = R"(#version 330 core
layout(location = 0) in vec3 position;
uniform mat4 modelView;
uniform mat4 projection;
invariant gl_Position;

vec4 place(out vec4 cameraSpace) {
    cameraSpace = modelView * vec4(position, 1.0);
    return projection * cameraSpace;
}
)";

constexpr const char* kFlatVertex = R"(
void main() {
    vec4 cameraSpace;
    gl_Position = place(cameraSpace);
}
)";

constexpr const char* kFlatFragment = R"(#version 330 core
uniform vec4 color;
out vec4 fragment;
void main() {
    fragment = color;
}
)";

// The texture coordinate moves by half a texel: lumo rounds u x size to the
// nearest texel, GL's nearest filter takes the floor.
constexpr const char* kTexturedVertex = R"(
layout(location = 2) in vec2 texcoord;
uniform vec2 halfTexel;
out vec2 uv;
void main() {
    vec4 cameraSpace;
    gl_Position = place(cameraSpace);
    uv = texcoord + halfTexel;
}
)";

constexpr const char* kTexturedFragment = R"(#version 330 core
uniform sampler2D checker;
uniform float scale;
in vec2 uv;
out vec4 fragment;
void main() {
    fragment = texture(checker, uv) * scale;
}
)";

// One light, per vertex, in camera space (the eye at the origin). lightColor
// is the light's colour x diffuse and specularColor its specular colour x
// specular, both already scaled for the resolve and 0 where lumo's model gives
// nothing.
constexpr const char* kLitVertex = R"(
layout(location = 1) in vec3 normal;
uniform vec3 lightPosition;
uniform vec3 lightColor;
uniform vec3 specularColor;
uniform vec3 diffuse;
uniform float shininess;
out vec3 color;
void main() {
    vec4 p;
    gl_Position = place(p);
    vec3 n = normalize(mat3(modelView) * normal);
    vec3 l = lightPosition - p.xyz;
    float d2 = dot(l, l);
    vec3 lHat = l * inversesqrt(d2);
    vec3 h = normalize(normalize(-p.xyz) + lHat);
    float lambert = clamp(dot(n, lHat), 0.0, 1.0);
    float highlight = pow(clamp(dot(h, n), 0.0, 1.0), shininess);
    color = (lightColor * diffuse * lambert + specularColor * highlight) / d2;
}
)";

constexpr const char* kLitFragment = R"(#version 330 core
in vec3 color;
out vec4 fragment;
void main() {
    fragment = vec4(color, 1.0);
}
)";

constexpr const char* kVolumeVertex = R"(
out vec4 cameraSpace;
void main() {
    gl_Position = place(cameraSpace);
}
)";

// Corners 0, 2, 4 are the triangle; 1, 3, 5 the far corners of its neighbours
// across the sides 0-2, 2-4 and 4-0. The neighbour across a -> b is the
// triangle (b, a, far) in its own winding.
constexpr const char* kVolumeGeometry = R"(#version 330 core
layout(triangles_adjacency) in;
layout(triangle_strip, max_vertices = 15) out;
in vec4 cameraSpace[];
uniform mat4 projection;
uniform vec3 light;  // camera space
uniform bool closed; // false: the triangles only (lumo's rule for open casters)

// Positive when the triangle (a, b, c) is turned away from the light:
// (a - L) . ((b - a) x (c - a)), written as the triple product of the corners
// seen from the light. The triple product is the same from each corner, but
// rounding makes the three orders differ slightly; sorted and summed the same
// way, the three give one value for every rotation of the corners, so a
// triangle and its neighbour agree bit for bit on the sign.
float awayFromLight(vec3 a, vec3 b, vec3 c) {
    vec3 la = a - light, lb = b - light, lc = c - light;
    float t0 = dot(la, cross(lb, lc));
    float t1 = dot(lb, cross(lc, la));
    float t2 = dot(lc, cross(la, lb));
    float lo = min(t0, min(t1, t2));
    float hi = max(t0, max(t1, t2));
    float mid = max(min(t0, t1), min(max(t0, t1), t2));
    return (lo + mid) + hi;
}

// Pushed away from the light to infinity.
vec4 atInfinity(int i) {
    return projection * vec4(cameraSpace[i].xyz - light, 0.0);
}

void main() {
    vec3 p[6];
    for (int i = 0; i < 6; ++i) {
        p[i] = cameraSpace[i].xyz;
    }
    if (closed && awayFromLight(p[0], p[2], p[4]) > 0.0) {
        gl_Position = atInfinity(0); EmitVertex();
        gl_Position = atInfinity(2); EmitVertex();
        gl_Position = atInfinity(4); EmitVertex();
        EndPrimitive();
        return;
    }
    if (closed) {
        for (int k = 0; k < 6; k += 2) {
            int a = k, b = (k + 2) % 6;
            if (awayFromLight(p[b], p[a], p[k + 1]) > 0.0) {
                // The quad B, A, A at infinity, B at infinity (outward).
                gl_Position = gl_in[b].gl_Position; EmitVertex();
                gl_Position = gl_in[a].gl_Position; EmitVertex();
                gl_Position = atInfinity(b); EmitVertex();
                gl_Position = atInfinity(a); EmitVertex();
                EndPrimitive();
            }
        }
    }
    gl_Position = gl_in[0].gl_Position; EmitVertex();
    gl_Position = gl_in[2].gl_Position; EmitVertex();
    gl_Position = gl_in[4].gl_Position; EmitVertex();
    EndPrimitive();
}
)";

constexpr const char* kVolumeFragment = R"(#version 330 core
void main() {
}
)";

// ---- GL objects ------------------------------------------------------------

struct Program {
    GLuint id = 0;
    GLint modelView = -1, projection = -1;
    // Per program, -1 where it has no such uniform.
    GLint color = -1, halfTexel = -1, checker = -1, scale = -1;
    GLint lightPosition = -1, lightColor = -1, specularColor = -1, diffuse = -1, shininess = -1;
    GLint light = -1, closed = -1;
};

// A mesh file's buffers: its corners for drawing, and for casters its
// positions with the adjacency the volume shader reads.
struct GlMesh {
    GLuint surfaceArray = 0, surfaceVertices = 0, surfaceIndices = 0;
    GLsizei surfaceCount = 0;
    GLuint volumeArray = 0, volumeVertices = 0, volumeIndices = 0;
    GLsizei volumeCount = 0;
    bool closed = false;

    void release() {
        const GLuint arrays[] = {surfaceArray, volumeArray};
        const GLuint buffers[] = {surfaceVertices, surfaceIndices, volumeVertices, volumeIndices};
        glDeleteVertexArrays(2, arrays);
        glDeleteBuffers(4, buffers);
    }
};

bool hasExtension(const char* list, std::string_view name) {
    std::string_view rest = list ? list : "";
    while (!rest.empty()) {
        const size_t end = rest.find(' ');
        if (rest.substr(0, end) == name) {
            return true;
        }
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
    return false;
}

// Interleaved corner: position, normal, texture coordinate.
struct Corner {
    float position[3], normal[3], texcoord[2];
};

} // namespace

struct GlPeer::State {
    int width = 0, height = 0;
    std::string error;
    EGLDisplay display = EGL_NO_DISPLAY;
    EGLContext context = EGL_NO_CONTEXT;
    bool initialized = false;
    GLuint framebuffer = 0, colorBuffer = 0, depthStencilBuffer = 0, checker = 0;
    Program flat, textured, lit, volume;
    mat44 projection;
    std::vector<uint8_t> readBack; // RGBA, bottom row first

    SceneSpec scene;
    std::map<std::string, GlMesh> meshes;
    std::vector<const GlMesh*> objectMeshes; // per scene object
    int frameIndex = 0;

    bool fail(const std::string& why) {
        error = why;
        return false;
    }
    bool failEgl(const char* call) {
        char text[96];
        std::snprintf(text, sizeof text, "%s failed (EGL error 0x%04x)", call,
                      unsigned(eglGetError()));
        return fail(text);
    }

    bool openContext();
    bool buildTargets();
    bool buildPrograms();
    GLuint compile(GLenum type, const std::string& source, const char* name);
    bool link(Program& program, const char* vertex, const char* geometry, const char* fragment,
              const char* name);
    void buildChecker();
    GlMesh buildMesh(const Mesh& mesh);
    void draw(const Program& program, const GlMesh& mesh, const mat44& modelView, bool volume);
};

GlPeer::GlPeer() : state_(std::make_unique<State>()) {}

GlPeer::~GlPeer() {
    State& s = *state_;
    if (s.context != EGL_NO_CONTEXT) {
        for (auto& [name, mesh] : s.meshes) {
            mesh.release();
        }
        for (const Program* p : {&s.flat, &s.textured, &s.lit, &s.volume}) {
            glDeleteProgram(p->id);
        }
        glDeleteTextures(1, &s.checker);
        const GLuint renderbuffers[] = {s.colorBuffer, s.depthStencilBuffer};
        glDeleteRenderbuffers(2, renderbuffers);
        glDeleteFramebuffers(1, &s.framebuffer);
        eglMakeCurrent(s.display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        eglDestroyContext(s.display, s.context);
    }
    if (s.initialized) {
        eglTerminate(s.display);
    }
}

const std::string& GlPeer::error() const {
    return state_->error;
}

std::string GlPeer::rendererName() const {
    if (state_->context == EGL_NO_CONTEXT) {
        return "";
    }
    return std::string(reinterpret_cast<const char*>(glGetString(GL_RENDERER))) + ", " +
           reinterpret_cast<const char*>(glGetString(GL_VERSION));
}

bool GlPeer::open(int width, int height) {
    State& s = *state_;
    s.width = width;
    s.height = height;
    if (!s.openContext() || !s.buildTargets() || !s.buildPrograms()) {
        return false;
    }
    s.buildChecker();
    {
        LogCapture quiet(false); // the viewport prints its matrix and planes
        s.projection = Viewport(width, height, float(width) / float(height)).projection;
    }
    for (const Program* p : {&s.flat, &s.textured, &s.lit, &s.volume}) {
        glUseProgram(p->id);
        glUniformMatrix4fv(p->projection, 1, GL_FALSE, s.projection.m);
    }
    s.readBack.resize(size_t(width) * height * 4);
    if (glGetError() != GL_NO_ERROR) {
        return s.fail("OpenGL reported an error while setting up");
    }
    return true;
}

bool GlPeer::State::openContext() {
    // The platform is named through the client extensions, before any display.
    const char* clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    if (!hasExtension(clientExtensions, "EGL_MESA_platform_surfaceless")) {
        return fail("EGL has no surfaceless platform (EGL_MESA_platform_surfaceless)");
    }
    auto getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
        eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (!getPlatformDisplay) {
        return fail("EGL has no eglGetPlatformDisplayEXT");
    }
    display = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    if (display == EGL_NO_DISPLAY) {
        return failEgl("eglGetPlatformDisplayEXT");
    }
    EGLint major = 0, minor = 0;
    if (!eglInitialize(display, &major, &minor)) {
        return failEgl("eglInitialize");
    }
    initialized = true;
    // Without surfaces and without a config: the framebuffer object is the target.
    const char* extensions = eglQueryString(display, EGL_EXTENSIONS);
    for (const char* needed :
         {"EGL_KHR_surfaceless_context", "EGL_KHR_no_config_context", "EGL_KHR_create_context"}) {
        if (!hasExtension(extensions, needed)) {
            return fail(std::string("EGL display lacks ") + needed);
        }
    }
    if (!eglBindAPI(EGL_OPENGL_API)) {
        return failEgl("eglBindAPI(EGL_OPENGL_API)");
    }
    const EGLint attributes[] = {EGL_CONTEXT_MAJOR_VERSION_KHR,
                                 3,
                                 EGL_CONTEXT_MINOR_VERSION_KHR,
                                 3,
                                 EGL_CONTEXT_OPENGL_PROFILE_MASK_KHR,
                                 EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT_KHR,
                                 EGL_NONE};
    context = eglCreateContext(display, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, attributes);
    if (context == EGL_NO_CONTEXT) {
        return failEgl("eglCreateContext (OpenGL 3.3 core)");
    }
    if (!eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context)) {
        return failEgl("eglMakeCurrent");
    }
    return true;
}

bool GlPeer::State::buildTargets() {
    glGenRenderbuffers(1, &colorBuffer);
    glBindRenderbuffer(GL_RENDERBUFFER, colorBuffer);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
    glGenRenderbuffers(1, &depthStencilBuffer);
    glBindRenderbuffer(GL_RENDERBUFFER, depthStencilBuffer);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, width, height);
    glGenFramebuffers(1, &framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colorBuffer);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER,
                              depthStencilBuffer);
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        return fail("the RGBA8 + depth 24 / stencil 8 framebuffer is not complete");
    }
    glViewport(0, 0, width, height);
    return true;
}

GLuint GlPeer::State::compile(GLenum type, const std::string& source, const char* name) {
    GLuint shader = glCreateShader(type);
    const char* text = source.c_str();
    glShaderSource(shader, 1, &text, nullptr);
    glCompileShader(shader);
    GLint ok = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        char log[1024] = {};
        glGetShaderInfoLog(shader, sizeof log, nullptr, log);
        fail(std::string("the ") + name + " shader does not compile: " + log);
        glDeleteShader(shader);
        return 0;
    }
    return shader;
}

bool GlPeer::State::link(Program& program, const char* vertex, const char* geometry,
                         const char* fragment, const char* name) {
    GLuint shaders[3] = {compile(GL_VERTEX_SHADER, std::string(kVertexHead) + vertex, name),
                         geometry ? compile(GL_GEOMETRY_SHADER, geometry, name) : 0,
                         compile(GL_FRAGMENT_SHADER, fragment, name)};
    if (!shaders[0] || (geometry && !shaders[1]) || !shaders[2]) {
        return false;
    }
    program.id = glCreateProgram();
    for (GLuint shader : shaders) {
        if (shader) {
            glAttachShader(program.id, shader);
        }
    }
    glLinkProgram(program.id);
    for (GLuint shader : shaders) {
        glDeleteShader(shader); // kept alive by the program until it goes
    }
    GLint ok = GL_FALSE;
    glGetProgramiv(program.id, GL_LINK_STATUS, &ok);
    if (!ok) {
        char log[1024] = {};
        glGetProgramInfoLog(program.id, sizeof log, nullptr, log);
        return fail(std::string("the ") + name + " program does not link: " + log);
    }
    auto at = [&](const char* uniform) { return glGetUniformLocation(program.id, uniform); };
    program.modelView = at("modelView");
    program.projection = at("projection");
    program.color = at("color");
    program.halfTexel = at("halfTexel");
    program.checker = at("checker");
    program.scale = at("scale");
    program.lightPosition = at("lightPosition");
    program.lightColor = at("lightColor");
    program.specularColor = at("specularColor");
    program.diffuse = at("diffuse");
    program.shininess = at("shininess");
    program.light = at("light");
    program.closed = at("closed");
    return true;
}

bool GlPeer::State::buildPrograms() {
    return link(flat, kFlatVertex, nullptr, kFlatFragment, "flat") &&
           link(textured, kTexturedVertex, nullptr, kTexturedFragment, "textured") &&
           link(lit, kLitVertex, nullptr, kLitFragment, "lit") &&
           link(volume, kVolumeVertex, kVolumeGeometry, kVolumeFragment, "shadow volume");
}

void GlPeer::State::buildChecker() {
    const std::unique_ptr<Texture> texture = checkerTexture();
    const TextureImage& image = *texture->image;
    // lumo's row 0 is the top (v = 1), GL's the bottom (v = 0).
    std::vector<uint8_t> bytes(size_t(image.width) * image.height * 4);
    for (int y = 0; y < image.height; ++y) {
        const vec4* row = &image.texels[size_t(image.height - 1 - y) * image.width];
        for (int x = 0; x < image.width; ++x) {
            const float channels[4] = {row[x].x, row[x].y, row[x].z, row[x].w};
            for (int c = 0; c < 4; ++c) {
                bytes[(size_t(y) * image.width + x) * 4 + c] =
                    uint8_t(std::lround(std::clamp(channels[c], 0.0f, 1.0f) * 255.0f));
            }
        }
    }
    glGenTextures(1, &checker);
    glBindTexture(GL_TEXTURE_2D, checker);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, image.width, image.height, 0, GL_RGBA,
                 GL_UNSIGNED_BYTE, bytes.data());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glUseProgram(textured.id);
    glUniform1i(textured.checker, 0);
    glUniform2f(textured.halfTexel, 0.5f / float(image.width), 0.5f / float(image.height));
    glUniform1f(textured.scale, kResolveScale);
}

GlMesh GlPeer::State::buildMesh(const Mesh& mesh) {
    GlMesh out;
    const int vertexCount = std::clamp(mesh.vertexCount, 0, int(mesh.vertices.size()));
    const int normalCount = std::clamp(mesh.normalCount, 0, int(mesh.normals.size()));
    const int texcoordCount = std::clamp(mesh.texcoordCount, 0, int(mesh.texcoords.size()));
    const int faceCount = std::clamp(mesh.faceCount, 0, int(mesh.faces.size()));
    auto valid = [&](const MeshFace& face) {
        return std::all_of(face.vertexIndex, face.vertexIndex + 3,
                           [&](int v) { return v >= 0 && v < vertexCount; });
    };

    // Corners shared by faces with the same position, normal and texture
    // coordinate become one vertex, so each is lit once per pass, as lumo
    // lights each once.
    std::vector<Corner> corners;
    std::vector<uint32_t> indices;
    std::map<std::array<int, 3>, uint32_t> known;
    for (int f = 0; f < faceCount; ++f) {
        const MeshFace& face = mesh.faces[f];
        if (!valid(face)) {
            continue; // lumo's pipeline drops such faces too
        }
        for (int k = 0; k < 3; ++k) {
            const int v = face.vertexIndex[k];
            const int n = face.normalIndex[k] >= 0 && face.normalIndex[k] < normalCount
                              ? face.normalIndex[k]
                              : -1;
            const int t = face.texcoordIndex[k] >= 0 && face.texcoordIndex[k] < texcoordCount
                              ? face.texcoordIndex[k]
                              : -1;
            auto [it, added] = known.try_emplace({v, n, t}, uint32_t(corners.size()));
            if (added) {
                // Without a normal of its own a corner takes its vertex's smooth
                // normal; without a texture coordinate, (0, 0): lumo's rules.
                const vec4& p = mesh.vertices[v].position;
                const vec4& normal = n >= 0 ? mesh.normals[n] : mesh.vertices[v].normal;
                const vec4 uv = t >= 0 ? mesh.texcoords[t] : vec4();
                corners.push_back(
                    Corner{{p.x, p.y, p.z}, {normal.x, normal.y, normal.z}, {uv.x, uv.y}});
            }
            indices.push_back(it->second);
        }
    }
    glGenVertexArrays(1, &out.surfaceArray);
    glBindVertexArray(out.surfaceArray);
    glGenBuffers(1, &out.surfaceVertices);
    glBindBuffer(GL_ARRAY_BUFFER, out.surfaceVertices);
    glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(corners.size() * sizeof(Corner)), corners.data(),
                 GL_STATIC_DRAW);
    glGenBuffers(1, &out.surfaceIndices);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, out.surfaceIndices);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, GLsizeiptr(indices.size() * sizeof(uint32_t)),
                 indices.data(), GL_STATIC_DRAW);
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, sizeof(Corner),
                          reinterpret_cast<void*>(offsetof(Corner, position)));
    glVertexAttribPointer(1, 3, GL_FLOAT, GL_FALSE, sizeof(Corner),
                          reinterpret_cast<void*>(offsetof(Corner, normal)));
    glVertexAttribPointer(2, 2, GL_FLOAT, GL_FALSE, sizeof(Corner),
                          reinterpret_cast<void*>(offsetof(Corner, texcoord)));
    for (GLuint a = 0; a < 3; ++a) {
        glEnableVertexAttribArray(a);
    }
    out.surfaceCount = GLsizei(indices.size());

    // The volume's triangles with adjacency, over the shared positions. An
    // open mesh (lumo: one that failed the closedness check) keeps its
    // triangles and casts them as a near cap alone, as lumo does.
    out.closed = mesh.manifold;
    std::vector<float> positions;
    for (int v = 0; v < vertexCount; ++v) {
        const vec4& p = mesh.vertices[v].position;
        positions.insert(positions.end(), {p.x, p.y, p.z});
    }
    std::vector<uint32_t> adjacency;
    for (int f = 0; f < faceCount; ++f) {
        const MeshFace& face = mesh.faces[f];
        if (!valid(face)) {
            continue;
        }
        for (int k = 0; k < 3; ++k) {
            const int a = face.vertexIndex[k], b = face.vertexIndex[(k + 1) % 3];
            int far = face.vertexIndex[(k + 2) % 3]; // unread unless closed
            const int neighbour = face.neighbour[k];
            if (out.closed && neighbour >= 0 && neighbour < faceCount) {
                for (int v : mesh.faces[neighbour].vertexIndex) {
                    if (v != a && v != b) {
                        far = v;
                    }
                }
            }
            adjacency.push_back(uint32_t(a));
            adjacency.push_back(uint32_t(far));
        }
    }
    glGenVertexArrays(1, &out.volumeArray);
    glBindVertexArray(out.volumeArray);
    glGenBuffers(1, &out.volumeVertices);
    glBindBuffer(GL_ARRAY_BUFFER, out.volumeVertices);
    glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(positions.size() * sizeof(float)), positions.data(),
                 GL_STATIC_DRAW);
    glGenBuffers(1, &out.volumeIndices);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, out.volumeIndices);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, GLsizeiptr(adjacency.size() * sizeof(uint32_t)),
                 adjacency.data(), GL_STATIC_DRAW);
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, 3 * sizeof(float), nullptr);
    glEnableVertexAttribArray(0);
    out.volumeCount = GLsizei(adjacency.size());
    glBindVertexArray(0);
    return out;
}

bool GlPeer::load(const SceneSpec& scene, bool shadows) {
    State& s = *state_;
    for (auto& [name, mesh] : s.meshes) {
        mesh.release();
    }
    s.meshes.clear();
    s.objectMeshes.clear();
    s.scene = scene;
    if (!shadows) {
        for (Light& light : s.scene.lights) {
            light.castsShadow = false;
        }
    }
    TextureStore textures; // OBJ materials' textures: every object draws its own colour instead
    for (const ObjectSpec& o : s.scene.objects) {
        auto it = s.meshes.find(o.file);
        if (it == s.meshes.end()) {
            std::unique_ptr<Mesh> mesh = makeMesh(s.scene, o.file, Material{}, textures);
            it = s.meshes.emplace(o.file, s.buildMesh(*mesh)).first;
        }
        s.objectMeshes.push_back(&it->second);
    }
    s.frameIndex = 0;
    if (glGetError() != GL_NO_ERROR) {
        return s.fail("OpenGL reported an error while loading " + scene.name);
    }
    return true;
}

void GlPeer::State::draw(const Program& program, const GlMesh& mesh, const mat44& modelView,
                         bool volume) {
    glUniformMatrix4fv(program.modelView, 1, GL_FALSE, modelView.m);
    if (volume) {
        glUniform1i(program.closed, mesh.closed);
        glBindVertexArray(mesh.volumeArray);
        glDrawElements(GL_TRIANGLES_ADJACENCY, mesh.volumeCount, GL_UNSIGNED_INT, nullptr);
    } else {
        glBindVertexArray(mesh.surfaceArray);
        glDrawElements(GL_TRIANGLES, mesh.surfaceCount, GL_UNSIGNED_INT, nullptr);
    }
}

void GlPeer::frame() {
    State& s = *state_;
    const SceneSpec& scene = s.scene;
    const size_t count = scene.objects.size();

    // The objects' model-view matrices, as lumo's pipeline makes them.
    std::vector<mat44> modelView(count);
    for (size_t i = 0; i < count; ++i) {
        const ObjectSpec& o = scene.objects[i];
        const mat44 world = mat44::translation(o.position) * objectRotation(o, s.frameIndex) *
                            mat44::scale(o.scale);
        modelView[i] = scene.view * world;
    }
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glDepthMask(GL_TRUE);
    glStencilMask(0xff);
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClearDepth(1.0);
    glClearStencil(0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);

    // Ambient pass, in file order (sky last).
    glEnable(GL_CULL_FACE);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
    glDisable(GL_BLEND);
    glDisable(GL_STENCIL_TEST);
    glBindTexture(GL_TEXTURE_2D, s.checker);
    const Program* current = nullptr;
    for (size_t i = 0; i < count; ++i) {
        const ObjectSpec& o = scene.objects[i];
        const Program& program = o.textured ? s.textured : s.flat;
        if (current != &program) {
            glUseProgram(program.id);
            current = &program;
        }
        if (!o.textured) {
            const float k = scene.ambient * kResolveScale;
            glUniform4f(program.color, o.color.x * k, o.color.y * k, o.color.z * k, o.color.w * k);
        }
        s.draw(program, *s.objectMeshes[i], modelView[i], false);
    }

    glDepthMask(GL_FALSE);
    for (const Light& light : scene.lights) {
        const vec4 position = scene.view.transform(light.position);
        if (light.castsShadow) {
            // Count the casters' volumes: +1 for faces seen from behind, -1 for
            // faces seen from the front, where they lie behind the surface.
            glClear(GL_STENCIL_BUFFER_BIT);
            glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE);
            glDisable(GL_BLEND);
            glDisable(GL_CULL_FACE);
            glEnable(GL_DEPTH_CLAMP);
            glEnable(GL_POLYGON_OFFSET_FILL);
            glPolygonOffset(0.0f, 1.0f);
            glDepthFunc(GL_LESS);
            glEnable(GL_STENCIL_TEST);
            glStencilFunc(GL_ALWAYS, 0, 0xff);
            glStencilOpSeparate(GL_BACK, GL_KEEP, GL_INCR_WRAP, GL_KEEP);
            glStencilOpSeparate(GL_FRONT, GL_KEEP, GL_DECR_WRAP, GL_KEEP);
            glUseProgram(s.volume.id);
            glUniform3f(s.volume.light, position.x, position.y, position.z);
            for (size_t i = 0; i < count; ++i) {
                if (scene.objects[i].shadow) {
                    s.draw(s.volume, *s.objectMeshes[i], modelView[i], true);
                }
            }
            glDisable(GL_DEPTH_CLAMP);
            glDisable(GL_POLYGON_OFFSET_FILL);
            glEnable(GL_CULL_FACE);
            glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
            glStencilFunc(GL_EQUAL, 0, 0xff);
            glStencilOp(GL_KEEP, GL_KEEP, GL_KEEP);
        } else {
            glDisable(GL_STENCIL_TEST);
        }

        // The light's own pass over the untextured objects.
        glEnable(GL_BLEND);
        glBlendFunc(GL_ONE, GL_ONE);
        glDepthFunc(GL_LEQUAL);
        glUseProgram(s.lit.id);
        // lumo's model: no diffuse intensity, no light at all, not even specular.
        const float diffuse = light.diffuse > 0.0f ? light.diffuse * kResolveScale : 0.0f;
        const float specular =
            light.diffuse > 0.0f && light.specular > 0.0f ? light.specular * kResolveScale : 0.0f;
        glUniform3f(s.lit.lightPosition, position.x, position.y, position.z);
        glUniform3f(s.lit.lightColor, light.color.x * diffuse, light.color.y * diffuse,
                    light.color.z * diffuse);
        glUniform3f(s.lit.specularColor, light.specularColor.x * specular,
                    light.specularColor.y * specular, light.specularColor.z * specular);
        glUniform1f(s.lit.shininess, scene.shininess);
        for (size_t i = 0; i < count; ++i) {
            const ObjectSpec& o = scene.objects[i];
            if (!o.textured) {
                glUniform3f(s.lit.diffuse, o.color.x, o.color.y, o.color.z);
                s.draw(s.lit, *s.objectMeshes[i], modelView[i], false);
            }
        }
    }
    glBindVertexArray(0);

    // Waits for the frame and copies it out, as lumo's resolve does.
    glReadPixels(0, 0, s.width, s.height, GL_RGBA, GL_UNSIGNED_BYTE, s.readBack.data());
    ++s.frameIndex;
}

std::vector<uint32_t> GlPeer::picture() const {
    const State& s = *state_;
    std::vector<uint32_t> pixels(size_t(s.width) * s.height);
    for (int y = 0; y < s.height; ++y) {
        const uint8_t* row = &s.readBack[size_t(s.height - 1 - y) * s.width * 4];
        for (int x = 0; x < s.width; ++x) {
            const uint8_t* p = row + 4 * x;
            pixels[size_t(y) * s.width + x] = uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
        }
    }
    return pixels;
}

} // namespace lumo
