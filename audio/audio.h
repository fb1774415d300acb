#pragma once
// The music player the main loop talks to: one process-wide output device and
// streams that are decoded completely when they are created.
//
// Conventions:
//  - Every stream is 44100 Hz, 16-bit, stereo once decoded: 4 bytes per sample
//    frame, 176400 bytes per second. Positions are byte offsets into that PCM.
//  - The position of a stream is the number of bytes the output has taken from
//    it, interpolated with the steady clock between two output callbacks so the
//    clock advances smoothly instead of in buffer-sized steps; it never runs
//    ahead of the bytes actually handed to the output and never goes backwards.
//  - Calls return false / 0 on failure and leave a code for audioErrorCode().
//  - All calls are made from one thread (the main loop's); the output runs on
//    its own thread and only reads the stream data.
//
// When the default output cannot be opened (a server with no sound card), the
// output is re-opened on SDL's "dummy" driver, which consumes samples at real
// time: the music is silent but the clock runs exactly as with a sound card.

#include <cstdint>

namespace lumo {

// Error codes left for audioErrorCode(). Plain numbers, not an enum: the
// program prints the number itself ("error (2) while creating stream").
constexpr int AudioOk = 0;
constexpr int AudioErrorMemory = 1;      // out of memory while decoding
constexpr int AudioErrorFileOpen = 2;    // the file cannot be opened or read
constexpr int AudioErrorHandle = 5;      // not a live stream handle
constexpr int AudioErrorInit = 8;        // audioInit has not succeeded
constexpr int AudioErrorStart = 9;       // audioStart has not been called
constexpr int AudioErrorAlready = 14;    // audioInit called twice
constexpr int AudioErrorIllParam = 20;   // an argument the player does not support
constexpr int AudioErrorDevice = 23;     // no output could be opened, not even the silent one
constexpr int AudioErrorFileFormat = 41; // the file is not an MP3 (no decodable frame)
constexpr int AudioErrorCodec = 44;      // the decoder cannot give 44100 Hz 16-bit stereo
constexpr int AudioErrorUnknown = -1;

using AudioStream = uint32_t; // 0 is never a valid handle

constexpr int audioDefaultDevice = -1;
constexpr uint32_t audioStreamPrescan = 0x20000; // accepted; decoding is always complete
constexpr int audioPositionBytes = 0;
constexpr uint64_t audioBytesPerSecond = 176400;

// Opens the output. device must be -1 (the default output). Returns true on
// success, including the silent fallback, which prints one line saying so.
bool audioInit(int device, uint32_t frequency);

// Decodes the whole MP3 file. offset and length must be 0 (the whole file).
// Returns a handle, or 0 with audioErrorCode() set (AudioErrorFileOpen for a
// missing file, AudioErrorFileFormat for one that is not an MP3).
AudioStream audioStreamCreateFile(const char* path, uint64_t offset, uint64_t length,
                                  uint32_t flags);

// The code of the last failed call; AudioOk after a successful one.
int audioErrorCode();

// Starts the output device (it is created paused).
bool audioStart();

// Plays the stream from its current position, or from its start when restart is
// set or it has played to its end.
bool audioChannelPlay(AudioStream stream, bool restart);

// The playback position in bytes (mode audioPositionBytes only); UINT64_MAX on
// error.
uint64_t audioChannelGetPosition(AudioStream stream, int mode);

// bytes / 176400 for a live stream; a negative value on error.
double audioChannelBytes2Seconds(AudioStream stream, uint64_t bytes);

// The stream's length in bytes; UINT64_MAX on error.
uint64_t audioChannelGetLength(AudioStream stream);

// Pumps the output. The output thread fills its own buffers, so this only
// reports whether the player is running.
bool audioUpdate(uint32_t length);

bool audioStreamFree(AudioStream stream);

// Closes the output and frees every stream still alive.
bool audioFree();

// The SDL audio driver in use ("alsa", "pulseaudio", "dummy", ...), or "" when
// the player is not initialised.
const char* audioDriverName();
bool audioIsSilent();

} // namespace lumo
