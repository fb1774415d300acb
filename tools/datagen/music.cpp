#include "tools/datagen/music.h"

#include "tools/datagen/noise.h"

#include <lame/lame.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace lumo::datagen {

namespace {

constexpr double kBeat = 60.0 / kBpm;
constexpr double kTwoPi = 2.0 * M_PI;

double midiHz(double note) {
    return 440.0 * std::pow(2.0, (note - 69.0) / 12.0);
}

// Band-limited saw and square by polyBLEP: the step at each wrap is smoothed
// over one sample, which keeps the high notes from aliasing audibly.
double polyBlep(double t, double dt) {
    if (t < dt) {
        t /= dt;
        return t + t - t * t - 1.0;
    }
    if (t > 1.0 - dt) {
        t = (t - 1.0) / dt;
        return t * t + t + t + 1.0;
    }
    return 0.0;
}

struct Osc {
    double phase = 0.0;
    double saw(double hz) {
        double dt = hz / kSampleRate;
        double v = 2.0 * phase - 1.0 - polyBlep(phase, dt);
        phase += dt;
        phase -= std::floor(phase);
        return v;
    }
    double square(double hz, double width) {
        double dt = hz / kSampleRate;
        double v = phase < width ? 1.0 : -1.0;
        v += polyBlep(phase, dt);
        double t2 = phase + (1.0 - width);
        t2 -= std::floor(t2);
        v -= polyBlep(t2, dt);
        phase += dt;
        phase -= std::floor(phase);
        return v;
    }
    double sine(double hz) {
        double v = std::sin(kTwoPi * phase);
        phase += hz / kSampleRate;
        phase -= std::floor(phase);
        return v;
    }
};

// Chamberlin state-variable low-pass.
struct Svf {
    double low = 0, band = 0;
    double lastCutoff = -1, f = 0;
    double lowpass(double in, double cutoff, double q) {
        if (cutoff != lastCutoff) {
            lastCutoff = cutoff;
            f = 2.0 * std::sin(M_PI * std::min(cutoff, 6000.0) / kSampleRate);
        }
        low += f * band;
        double high = in - low - q * band;
        band += f * high;
        return low;
    }
};

struct Bus {
    std::vector<float> l, r;
    explicit Bus(size_t n) : l(n, 0.0f), r(n, 0.0f) {}
    Bus* send = nullptr; // the reverb, fed at sendLevel
    double sendLevel = 0.0;
    void add(size_t i, double v, double pan) { // pan -1 left .. 1 right, equal power
        if (i >= l.size()) {
            return;
        }
        double a = (pan + 1.0) * M_PI / 4.0;
        float gl = float(v * std::cos(a)), gr = float(v * std::sin(a));
        l[i] += gl;
        r[i] += gr;
        if (send) {
            send->l[i] += gl * float(sendLevel);
            send->r[i] += gr * float(sendLevel);
        }
    }
};

size_t sampleAt(double seconds) {
    return size_t(std::llround(seconds * kSampleRate));
}

// ---- instruments: each renders one note into a bus ----

void kick(Bus& bus, double t0, double gain) {
    Osc o;
    size_t s0 = sampleAt(t0);
    for (size_t i = 0; i < size_t(0.45 * kSampleRate); ++i) {
        double t = double(i) / kSampleRate;
        double hz = 44.0 + 110.0 * std::exp(-t / 0.035);
        double v = o.sine(hz) * std::exp(-t / 0.28) + 0.3 * std::exp(-t / 0.002);
        bus.add(s0 + i, std::tanh(v * 1.4) * gain, 0.0);
    }
}

void snare(Bus& bus, double t0, double gain, Lcg& rng) {
    Osc o;
    size_t s0 = sampleAt(t0);
    double prev = 0;
    for (size_t i = 0; i < size_t(0.3 * kSampleRate); ++i) {
        double t = double(i) / kSampleRate;
        double n = rng.signedUniform();
        double hp = n - prev * 0.6;
        prev = n;
        double v =
            hp * std::exp(-t / 0.09) * 0.55 + o.sine(190.0 - 40.0 * t) * std::exp(-t / 0.06) * 0.5;
        bus.add(s0 + i, v * gain, -0.1);
    }
}

void hat(Bus& bus, double t0, double gain, double decay, Lcg& rng) {
    size_t s0 = sampleAt(t0);
    double p1 = 0, p2 = 0;
    for (size_t i = 0; i < size_t(decay * 6 * kSampleRate); ++i) {
        double t = double(i) / kSampleRate;
        double n = rng.signedUniform();
        double h1 = n - p1;
        p1 = n;
        double h2 = h1 - p2;
        p2 = h1;
        bus.add(s0 + i, h2 * 0.25 * std::exp(-t / decay) * gain, 0.3);
    }
}

void crash(Bus& bus, double t0, double gain, Lcg& rng) {
    size_t s0 = sampleAt(t0);
    double pl = 0, pr = 0;
    for (size_t i = 0; i < size_t(3.0 * kSampleRate); ++i) {
        double t = double(i) / kSampleRate;
        double nl = rng.signedUniform(), nr = rng.signedUniform();
        double env = std::exp(-t / 0.9) * gain * 0.35;
        if (s0 + i < bus.l.size()) {
            bus.l[s0 + i] += float((nl - pl) * env);
            bus.r[s0 + i] += float((nr - pr) * env);
        }
        pl = nl;
        pr = nr;
    }
}

void bass(Bus& bus, double t0, double dur, double note, double gain) {
    Osc saw, sub;
    Svf f;
    double hz = midiHz(note);
    size_t s0 = sampleAt(t0);
    size_t n = size_t((dur + 0.04) * kSampleRate);
    for (size_t i = 0; i < n; ++i) {
        double t = double(i) / kSampleRate;
        double env = std::min(1.0, t / 0.004) * (t < dur ? 1.0 : std::exp(-(t - dur) / 0.01));
        double cut = 180.0 + 1500.0 * std::exp(-t / 0.07);
        double v = f.lowpass(saw.saw(hz), cut, 0.6) * 0.7 + sub.sine(hz * 0.5) * 0.6;
        bus.add(s0 + i, v * env * gain, 0.0);
    }
}

void pad(Bus& bus, double t0, double dur, double note, double gain) {
    Osc o[3];
    Svf f[3];
    const double detune[3] = {-0.08, 0.0, 0.09};
    const double pans[3] = {-0.7, 0.0, 0.7};
    double hz[3];
    for (int k = 0; k < 3; ++k) {
        hz[k] = midiHz(note + detune[k]);
    }
    for (int k = 0; k < 3; ++k) {
        o[k].phase = 0.31 * k;
    }
    size_t s0 = sampleAt(t0);
    size_t n = size_t((dur + 0.9) * kSampleRate);
    for (size_t i = 0; i < n; ++i) {
        double t = double(i) / kSampleRate;
        double env = std::min(1.0, t / 0.35) * (t < dur ? 1.0 : std::exp(-(t - dur) / 0.3));
        for (int k = 0; k < 3; ++k) {
            double v = f[k].lowpass(o[k].saw(hz[k]), 1300.0, 0.9);
            bus.add(s0 + i, v * env * gain, pans[k]);
        }
    }
}

void pluck(Bus& bus, double t0, double note, double gain, double pan) {
    Osc o;
    Svf f;
    size_t s0 = sampleAt(t0);
    for (size_t i = 0; i < size_t(0.35 * kSampleRate); ++i) {
        double t = double(i) / kSampleRate;
        double cut = 400.0 + 3500.0 * std::exp(-t / 0.05);
        double v = f.lowpass(o.saw(midiHz(note)), cut, 0.5) * std::exp(-t / 0.12);
        bus.add(s0 + i, v * std::min(1.0, t / 0.002) * gain, pan);
    }
}

void lead(Bus& bus, double t0, double dur, double note, double gain) {
    Osc o, o2, lfo;
    Svf f;
    size_t s0 = sampleAt(t0);
    size_t n = size_t((dur + 0.2) * kSampleRate);
    double hz = midiHz(note);
    for (size_t i = 0; i < n; ++i) {
        double t = double(i) / kSampleRate;
        double vib = 1.0 + 0.004 * std::min(1.0, std::max(0.0, t - 0.15) / 0.3) * lfo.sine(5.5);
        double env = std::min(1.0, t / 0.01) * (0.75 + 0.25 * std::exp(-t / 0.2)) *
                     (t < dur ? 1.0 : std::exp(-(t - dur) / 0.06));
        double cut = 1400.0 + 2600.0 * std::exp(-t / 0.25);
        double v = o.square(hz * vib, 0.35) * 0.6 + o2.saw(hz * vib * 1.003) * 0.4;
        bus.add(s0 + i, f.lowpass(v, cut, 0.7) * env * gain, 0.1);
    }
}

void riser(Bus& bus, double t0, double dur, double gain, Lcg& rng) {
    Svf fl, fr;
    size_t s0 = sampleAt(t0);
    for (size_t i = 0; i < size_t(dur * kSampleRate); ++i) {
        double t = double(i) / kSampleRate, x = t / dur;
        double cut = 200.0 + 5000.0 * x * x;
        double env = x * x * gain * 0.5;
        if (s0 + i < bus.l.size()) {
            bus.l[s0 + i] += float(fl.lowpass(rng.signedUniform(), cut, 0.5) * env);
            bus.r[s0 + i] += float(fr.lowpass(rng.signedUniform(), cut, 0.5) * env);
        }
    }
}

// ---- the arrangement ----

struct Chord {
    int notes[3];
    int root;
};
const Chord kAm{{57, 60, 64}, 45}, kF{{53, 57, 60}, 41}, kC{{55, 60, 64}, 48}, kG{{55, 59, 62}, 43},
    kDm{{57, 62, 65}, 38}, kE{{56, 59, 64}, 40};

struct Note {
    double beat, length;
    int note;
};

// Melodies, 16 beats each (one four-bar phrase).
const std::vector<Note> kPhraseA{{0, 1.5, 76},   {1.5, 0.5, 74}, {2, 1, 72},     {3, 1, 69},
                                 {4, 1, 72},     {5, 0.5, 69},   {5.5, 0.5, 72}, {6, 1.5, 77},
                                 {7.5, 0.5, 76}, {8, 1, 76},     {9, 1, 79},     {10, 1, 76},
                                 {11, 1, 72},    {12, 2, 74},    {14, 1, 71},    {15, 1, 67}};
const std::vector<Note> kPhraseA2{{0, 1.5, 76}, {1.5, 0.5, 74}, {2, 1, 72},  {3, 1, 76},
                                  {4, 1.5, 77}, {5.5, 0.5, 76}, {6, 1, 72},  {7, 1, 69},
                                  {8, 1.5, 79}, {9.5, 0.5, 76}, {10, 1, 72}, {11, 1, 76},
                                  {12, 1, 74},  {13, 1, 71},    {14, 2, 69}};
const std::vector<Note> kPhraseB{{0, 1, 81},     {1, 1, 77},  {2, 1, 74},  {3, 1, 77}, {4, 1.5, 76},
                                 {5.5, 0.5, 72}, {6, 2, 69},  {8, 1, 72},  {9, 1, 77}, {10, 1, 81},
                                 {11, 1, 79},    {12, 2, 80}, {14, 1, 76}, {15, 1, 71}};
const std::vector<Note> kPhraseBreak{{0, 4, 72},  {4, 4, 74},  {8, 3, 76},
                                     {11, 1, 74}, {12, 2, 72}, {14, 2, 71}};

enum class Section { Intro, Build, PartA, PartB, Breakdown, PartC, Outro, Ending };

Section sectionOf(int bar) {
    if (bar < 8) {
        return Section::Intro;
    }
    if (bar < 16) {
        return Section::Build;
    }
    if (bar < 32) {
        return Section::PartA;
    }
    if (bar < 40) {
        return Section::PartB;
    }
    if (bar < 48) {
        return Section::Breakdown;
    }
    if (bar < 68) {
        return Section::PartC;
    }
    if (bar < 76) {
        return Section::Outro;
    }
    return Section::Ending;
}

Chord chordOf(int bar) {
    Section s = sectionOf(bar);
    int k = bar % 4;
    if (s == Section::PartB) {
        const Chord p[4] = {kDm, kAm, kF, kE};
        return p[k];
    }
    if (s == Section::Breakdown) {
        const Chord p[4] = {kF, kG, kAm, kAm};
        return p[k];
    }
    if (s == Section::Ending) {
        return kAm;
    }
    const Chord p[4] = {kAm, kF, kC, kG};
    return p[k];
}

} // namespace

Song synthesize() {
    const double length = barSeconds(kSongBars) + 3.0;
    const size_t n = sampleAt(length);
    Bus dry(n), wetBus(n), leadBus(n), reverbSend(n);
    wetBus.send = &reverbSend; // pads, plucks and snares also feed the reverb
    wetBus.sendLevel = 0.5;
    Bus& wet = wetBus;
    Lcg rng(20260110u);

    for (int bar = 0; bar < kSongBars; ++bar) {
        Section s = sectionOf(bar);
        Chord ch = chordOf(bar);
        double t = barSeconds(bar);
        bool drums = s == Section::Build || s == Section::PartA || s == Section::PartB ||
                     s == Section::PartC || s == Section::Outro;
        // Crashes mark the section starts, which are the scene changes.
        if (bar == 8 || bar == 16 || bar == 24 || bar == 32 || bar == 40 || bar == 48 ||
            bar == 57 || bar == 63 || bar == 68 || bar == 76) {
            crash(dry, t, bar == 40 || bar == 76 ? 0.8 : 1.0, rng);
            kick(dry, t, 0.9);
        }
        // Pads: the whole bar, except the ending, whose last chord rings out.
        double padGain = s == Section::Intro ? 0.05 + 0.05 * std::min(1.0, bar / 4.0) : 0.09;
        if (s == Section::Ending) {
            if (bar == 76) {
                for (int note : ch.notes) {
                    pad(wet, t, barSeconds(3.2), note, 0.1);
                }
                pad(wet, t, barSeconds(3.2), ch.root + 12, 0.07);
            }
        } else {
            for (int note : ch.notes) {
                pad(wet, t, 4 * kBeat - 0.05, note, padGain);
            }
        }
        if (drums) {
            bool outroFade = s == Section::Outro;
            double kg = outroFade ? 0.9 - 0.08 * (bar - 68) : 0.9;
            for (int beat = 0; beat < 4; ++beat) {
                double tb = t + beat * kBeat;
                if (!(beat == 0 && (bar == 8 || bar == 16 || bar == 24 || bar == 32 || bar == 48 ||
                                    bar == 57 || bar == 63 || bar == 68))) {
                    kick(dry, tb, kg);
                }
                bool snareOn = (s != Section::Build || bar >= 12) && s != Section::Outro;
                if (snareOn && (beat == 1 || beat == 3)) {
                    snare(wet, tb, 0.55, rng);
                }
                for (int sub = 0; sub < 4; ++sub) {
                    double th = tb + sub * kBeat / 4;
                    bool open = (s == Section::PartB || s == Section::PartC) && sub == 2;
                    double hg = sub % 2 == 0 ? 0.22 : 0.12;
                    hat(dry, th, hg, open ? 0.12 : 0.025, rng);
                }
            }
            // A snare fill leads into every new section.
            if (bar == 15 || bar == 31 || bar == 39 || bar == 67) {
                for (int k = 0; k < 8; ++k) {
                    snare(dry, t + 2 * kBeat + k * kBeat / 4, 0.25 + 0.05 * k, rng);
                }
            }
            // Bass: eighth notes, the octave on the off-beats.
            for (int e = 0; e < 8; ++e) {
                int note = ch.root + ((e % 4 == 3) ? 12 : 0);
                bass(dry, t + e * kBeat / 2, kBeat / 2 * 0.8, note, 0.32);
            }
        }
        // Arpeggio: sixteenth notes over the chord, up two octaves.
        if ((s == Section::Intro && bar >= 4) || s == Section::Build || s == Section::Breakdown ||
            s == Section::PartC) {
            double g = s == Section::PartC ? 0.06 : 0.08;
            for (int k = 0; k < 16; ++k) {
                int note = ch.notes[k % 3] + 12 + (k % 6 >= 3 ? 12 : 0);
                double pan = (k % 2) ? 0.5 : -0.5;
                pluck(wet, t + k * kBeat / 4, note, g, pan);
            }
        }
        // Lead melody, one phrase per four bars.
        const std::vector<Note>* phrase = nullptr;
        int phraseBar = bar % 4;
        if (s == Section::PartA || s == Section::PartC) {
            phrase = (bar / 4) % 2 ? &kPhraseA2 : &kPhraseA;
        } else if (s == Section::PartB) {
            phrase = &kPhraseB;
        } else if (s == Section::Breakdown && bar >= 44) {
            phrase = &kPhraseBreak;
        }
        if (phrase && phraseBar == 0) {
            double g = s == Section::Breakdown ? 0.14 : 0.2;
            for (const Note& nt : *phrase) {
                lead(leadBus, t + nt.beat * kBeat, nt.length * kBeat * 0.92, nt.note, g);
            }
        }
        if (bar == 46) {
            riser(dry, t, barSeconds(2), 0.5, rng);
        }
    }

    // Lead: a ping-pong delay of three sixteenths, then a touch of reverb.
    size_t delay = sampleAt(kBeat * 0.75);
    for (size_t i = delay; i < n; ++i) {
        leadBus.l[i] += leadBus.r[i - delay] * 0.35f;
        leadBus.r[i] += leadBus.l[i - delay] * 0.35f;
    }
    for (size_t i = 0; i < n; ++i) {
        reverbSend.l[i] += leadBus.l[i] * 0.3f;
        reverbSend.r[i] += leadBus.r[i] * 0.3f;
    }
    // Reverb: four parallel combs into two all-passes, per channel.
    Song song;
    song.left.assign(n, 0.0f);
    song.right.assign(n, 0.0f);
    const int combs[2][4] = {{1557, 1617, 1491, 1422}, {1580, 1640, 1514, 1445}};
    const int allp[2] = {556, 441};
    for (int c = 0; c < 2; ++c) {
        const std::vector<float>& in = c == 0 ? reverbSend.l : reverbSend.r;
        std::vector<float> tail(n, 0.0f);
        for (int k = 0; k < 4; ++k) {
            std::vector<float> buf(size_t(combs[c][k]), 0.0f);
            size_t pos = 0;
            float damp = 0.0f;
            for (size_t i = 0; i < n; ++i) {
                float out = buf[pos];
                damp = out * 0.6f + damp * 0.4f;
                buf[pos] = in[i] + damp * 0.82f;
                pos = (pos + 1) % buf.size();
                tail[i] += out * 0.25f;
            }
        }
        for (int k = 0; k < 2; ++k) {
            std::vector<float> buf(size_t(allp[k]), 0.0f);
            size_t pos = 0;
            for (size_t i = 0; i < n; ++i) {
                float b = buf[pos];
                float out = -tail[i] + b;
                buf[pos] = tail[i] + b * 0.5f;
                pos = (pos + 1) % buf.size();
                tail[i] = out;
            }
        }
        std::vector<float>& out = c == 0 ? song.left : song.right;
        const std::vector<float>& d = c == 0 ? dry.l : dry.r;
        const std::vector<float>& ld = c == 0 ? leadBus.l : leadBus.r;
        const std::vector<float>& wetDry = c == 0 ? wetBus.l : wetBus.r;
        for (size_t i = 0; i < n; ++i) {
            out[i] = d[i] + wetDry[i] + ld[i] + tail[i] * 0.5f;
        }
    }
    // Normalize to -3 dBFS, leaving the encoder room so the decoded peaks stay
    // below -1 dBFS; fade the last half second to exact silence.
    float peak = 1e-9f;
    for (size_t i = 0; i < n; ++i) {
        peak = std::max(peak, std::max(std::fabs(song.left[i]), std::fabs(song.right[i])));
    }
    float gain = float(std::pow(10.0, -3.0 / 20.0)) / peak;
    size_t fade = sampleAt(0.5);
    for (size_t i = 0; i < n; ++i) {
        float g = gain;
        if (i + fade > n) {
            g *= float(n - i) / float(fade);
        }
        song.left[i] *= g;
        song.right[i] *= g;
    }
    return song;
}

bool writeMp3(const std::string& path, const Song& song) {
    lame_global_flags* gf = lame_init();
    if (!gf) {
        std::fprintf(stderr, "datagen: lame_init failed\n");
        return false;
    }
    lame_set_in_samplerate(gf, kSampleRate);
    lame_set_out_samplerate(gf, kSampleRate);
    lame_set_num_channels(gf, 2);
    lame_set_mode(gf, JOINT_STEREO);
    lame_set_brate(gf, 192);
    lame_set_VBR(gf, vbr_off);
    lame_set_quality(gf, 5);
    lame_set_bWriteVbrTag(gf, 1);
    if (lame_init_params(gf) < 0) {
        std::fprintf(stderr, "datagen: lame_init_params failed\n");
        lame_close(gf);
        return false;
    }
    const size_t n = song.left.size();
    std::vector<short> l(n), r(n);
    for (size_t i = 0; i < n; ++i) {
        l[i] = short(std::lrint(std::clamp(song.left[i], -1.0f, 1.0f) * 32767.0f));
        r[i] = short(std::lrint(std::clamp(song.right[i], -1.0f, 1.0f) * 32767.0f));
    }
    std::vector<unsigned char> mp3;
    const size_t chunk = 8192;
    std::vector<unsigned char> buf(chunk * 5 / 4 + 7200);
    for (size_t i = 0; i < n; i += chunk) {
        int count = int(std::min(chunk, n - i));
        int bytes = lame_encode_buffer(gf, &l[i], &r[i], count, buf.data(), int(buf.size()));
        if (bytes < 0) {
            std::fprintf(stderr, "datagen: MP3 encoding failed (%d)\n", bytes);
            lame_close(gf);
            return false;
        }
        mp3.insert(mp3.end(), buf.begin(), buf.begin() + bytes);
    }
    int bytes = lame_encode_flush(gf, buf.data(), int(buf.size()));
    if (bytes > 0) {
        mp3.insert(mp3.end(), buf.begin(), buf.begin() + bytes);
    }
    // The first frame was reserved for the info tag; now that the length is
    // known, the encoder fills it in (delay, padding, frame count).
    std::vector<unsigned char> tag(8192);
    size_t tagBytes = lame_get_lametag_frame(gf, tag.data(), tag.size());
    lame_close(gf);
    if (tagBytes == 0 || tagBytes > mp3.size()) {
        std::fprintf(stderr, "datagen: no LAME tag frame\n");
        return false;
    }
    std::copy(tag.begin(), tag.begin() + long(tagBytes), mp3.begin());
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        std::fprintf(stderr, "datagen: cannot write %s\n", path.c_str());
        return false;
    }
    bool ok = std::fwrite(mp3.data(), 1, mp3.size(), f) == mp3.size();
    ok = std::fclose(f) == 0 && ok;
    return ok;
}

} // namespace lumo::datagen
