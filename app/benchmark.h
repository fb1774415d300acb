#pragma once
// `lumo --bench`: how fast the demo renders, per scene and per worker count,
// measured on the real content without a window.
//
// The positions come from the timeline itself (the "scene" track on the 60 fps
// grid), so they stay inside their scenes when the timeline changes: for each
// scene, positions spread evenly over the time the scene is on screen. Every
// position gets a few warm-up frames (the renderer's band balancing settles in
// them) and then K timed frames. Then the whole timeline is rendered offline
// at 60 frames per second, as a capture would, to give the demo's total render
// time and its slowest frame.

#include <map>
#include <string>
#include <vector>

namespace lumo {

class SyncTrack;

struct BenchSettings {
    std::vector<int> threads; // worker counts; empty: 1 and one per processor
    int frames = 20;          // timed frames per position
    std::string json;         // also write the results here when not empty
    double from = 0.0;        // the offline run covers [from, to)
    double to = -1.0;         // negative: the end of the music
    int positionsPerScene = 3;
    int width = 640, height = 360; // the frames
};

// For each scene 1..7 that the "scene" track shows between 0 and `seconds`,
// `perScene` positions on the 60 fps grid at (i + 1/2) / perScene of the time
// the scene is shown, in increasing order.
std::map<int, std::vector<double>> benchPositions(const SyncTrack* scene, double seconds,
                                                  int perScene);

struct SceneResult {
    int scene = 0;
    int threads = 0;
    std::vector<double> positions;
    double medianMs = 0.0;
    double p95Ms = 0.0;
    double fps = 0.0;                   // 1000 / median
    double triangles = 0.0;             // per frame, averaged over the positions
    double shadowVolumeTriangles = 0.0; // likewise
};

struct TimelineResult {
    int threads = 0;
    double from = 0.0, to = 0.0;
    int frames = 0;
    double seconds = 0.0; // wall-clock time to render them all
    double slowestMs = 0.0;
    double slowestPosition = 0.0;
};

// The results as one JSON document.
std::string benchJson(int framesPerPosition, int width, int height,
                      const std::vector<SceneResult>& scenes,
                      const std::vector<TimelineResult>& timeline);

// Returns the process exit status.
int benchCommand(const std::string& dataDirectory, const BenchSettings& settings);

} // namespace lumo
