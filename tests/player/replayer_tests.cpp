// The replayer tick by tick: order and row sequencing, effects and the
// volume column.
#include "songs.h"

#include <doctest.h>

#include <utility>
#include <vector>

namespace {

constexpr uint8_t C4 = 49, C5 = 61;

XmSong sequenceSong(std::vector<int> rows, int channels = 2) {
    XmSong song = basicSong(channels, rows[0]);
    song.tempo = 1;
    song.orders.clear();
    song.patterns.clear();
    for (size_t i = 0; i < rows.size(); i++) {
        song.orders.push_back(static_cast<uint8_t>(i));
        song.patterns.push_back(makeXmPattern(rows[i], channels));
    }
    return song;
}

// (order, row) of each of the next n rows, one tick per row.
std::vector<std::pair<int, int>> positions(LoadedSong& s, int n) {
    std::vector<std::pair<int, int>> seen;
    for (int i = 0; i < n; i++) {
        s.ticks(1);
        seen.emplace_back(s.m->orderIndex, s.m->row);
    }
    return seen;
}

using Positions = std::vector<std::pair<int, int>>;

}  // namespace

TEST_CASE("position jump and pattern break on one row, in both channel orders") {
    struct Case {
        XmSongCell first, second;
        int row;
    };
    const XmSongCell breakTo5{0, 0, 0, 0xD, 0x05}, jumpTo2{0, 0, 0, 0xB, 2};
    for (Case c : {Case{breakTo5, jumpTo2, 0}, Case{jumpTo2, breakTo5, 5}}) {
        XmSong song = sequenceSong({8, 8, 8});
        song.patterns[0].at(0, 0) = c.first;
        song.patterns[0].at(0, 1) = c.second;
        LoadedSong s(song);
        s.ticks(2);
        CHECK(s.m->orderIndex == 2);
        CHECK(s.m->row == c.row);
    }
}

TEST_CASE("breaks past row 63, the last order and the song's end") {
    XmSong song = sequenceSong({4, 70, 16});
    song.restart = 1;
    song.patterns[0].at(1, 0) = {0, 0, 0, 0xD, 0x64};  // row 64, above 63: row 0
    song.patterns[1].at(0, 1) = {0, 0, 0, 0xD, 0x12};  // decimal digits: row 12
    LoadedSong s(song);
    CHECK(positions(s, 9) ==
          Positions{{0, 0}, {0, 1}, {1, 0}, {2, 12}, {2, 13}, {2, 14}, {2, 15}, {1, 0}, {2, 12}});

    XmSong last = sequenceSong({2, 2});
    last.restart = 1;
    last.patterns[1].at(0, 0) = {0, 0, 0, 0xD, 0};  // a break in the last order goes to order 0
    LoadedSong t(last);
    CHECK(positions(t, 4) == Positions{{0, 0}, {0, 1}, {1, 0}, {0, 0}});
}

TEST_CASE("pattern loop repeats its rows, with a target past the rows of another pattern") {
    XmSong song = sequenceSong({8, 4});
    song.patterns[0].at(6, 0) = {0, 0, 0, 0xE, 0x60};
    song.patterns[0].at(7, 0) = {0, 0, 0, 0xE, 0x61};
    song.patterns[1].at(0, 0) = {0, 0, 0, 0xE, 0x61};  // loops to row 6 of a 4-row pattern
    LoadedSong s(song);
    positions(s, 6);
    CHECK(positions(s, 5) == Positions{{0, 6}, {0, 7}, {0, 6}, {0, 7}, {1, 0}});
    CHECK(positions(s, 2) == Positions{{1, 0}, {1, 1}});
}

TEST_CASE("F00 makes every tick a row tick; F20 and above set the tick length at once") {
    XmSong song = basicSong(2, 8);
    song.bpm = 187;
    song.patterns[0].at(0, 0) = {0, 0, 0, 0xF, 0};
    song.patterns[0].at(0, 1) = {0, 0, 0, 0xF, 125};
    LoadedSong s(song);
    CHECK(s.m->tickFrames == 589);
    s.ticks(1);
    CHECK(s.m->tickFrames == 882);
    s.ticks(2);
    CHECK(s.m->row == 2);
}

TEST_CASE("EEx with speed 6 stretches the row to 18 ticks and later ticks still act") {
    XmSong song = basicSong(2, 8);
    song.patterns[0].at(0, 0) = {C4, 1, 0, 0xE, 0xE2};
    song.patterns[0].at(0, 1) = {C4, 1, 0, 0xE, 0xCF};  // cut at tick 15
    LoadedSong s(song);
    s.ticks(15);
    CHECK(xmChannels[1].volume == 64);
    s.ticks(1);
    CHECK(xmChannels[1].volume == 0);
    s.ticks(2);
    CHECK(s.m->row == 0);
    s.ticks(1);
    CHECK(s.m->row == 1);
}

TEST_CASE("note delay sounds at tick x only, never for x = 0 or x >= speed") {
    XmSong song = basicSong(3, 8);
    song.patterns[0].at(0, 0) = {C4, 1, 0, 0xE, 0xD0};
    song.patterns[0].at(0, 1) = {C4, 1, 0, 0xE, 0xD6};
    song.patterns[0].at(0, 2) = {C4, 1, 0x30, 0xE, 0xD3};
    LoadedSong s(song);
    for (int tick = 0; tick < 6; tick++) {
        s.ticks(1);
        CAPTURE(tick);
        CHECK(xmChannels[0].voice->sample == nullptr);
        CHECK(xmChannels[1].voice->sample == nullptr);
        CHECK((xmChannels[2].voice->sample != nullptr) == (tick >= 3));
        CHECK(xmChannels[2].volume == (tick >= 3 ? 32 : 0));  // the row tick's volume byte waits too
    }
}

TEST_CASE("key off cuts a note without volume envelope; with one it releases the sustain") {
    XmSong song = basicSong(2, 8);
    XmSongInstrument enveloped = instrumentWith(flatSample(64, 1000));
    enveloped.volume = {{{0, 64}, {4, 64}, {12, 0}}, -1, 1, 0, 0, 3};
    enveloped.fadeout = 1000;
    song.instruments.push_back(enveloped);
    song.patterns[0].at(0, 0) = {C4, 1, 0, 0, 0};
    song.patterns[0].at(0, 1) = {C4, 2, 0, 0, 0};
    song.patterns[0].at(1, 0) = {97, 0, 0, 0, 0};
    song.patterns[0].at(1, 1) = {0, 0, 0, 20, 0};
    LoadedSong s(song);
    s.ticks(6);
    CHECK(xmChannels[0].voice->volume == 127);
    CHECK((xmChannels[1].volumeEnvOut == 64 && xmChannels[1].volumeEnvTick == 4));  // held
    s.ticks(1);
    CHECK(xmChannels[0].voice->volume == 0);
    CHECK(xmChannels[1].fadeoutVolume == 65536 - 2000);
    s.ticks(5);
    CHECK(xmChannels[1].fadeoutVolume == 65536 - 6 * 2000);
    CHECK(xmChannels[1].volumeEnvOut == 24);
}

TEST_CASE("Cxx above 64 is kept: slides up clamp to 64, slides down subtract") {
    XmSong song = basicSong(2, 8);
    song.patterns[0].at(0, 0) = {C4, 1, 0, 0xC, 80};
    song.patterns[0].at(0, 1) = {C4, 1, 0, 0xC, 80};
    song.patterns[0].at(1, 0) = {0, 0, 0, 0xA, 0x10};
    song.patterns[0].at(1, 1) = {0, 0, 0, 0xA, 0x01};
    LoadedSong s(song);
    s.ticks(6);
    CHECK(xmChannels[0].voice->volume == 159);
    s.ticks(2);
    CHECK(xmChannels[0].volume == 64);
    CHECK(xmChannels[1].volume == 79);
}

TEST_CASE("volume column: 6x and 7x slide on every tick, 8x and 9x on the row tick") {
    XmSong song = basicSong(1, 8);
    song.patterns[0].at(0, 0) = {C4, 1, 0x40, 0, 0};
    song.patterns[0].at(1, 0) = {0, 0, 0x62, 0, 0};
    song.patterns[0].at(2, 0) = {0, 0, 0x82, 0, 0};
    song.patterns[0].at(3, 0) = {0, 0, 0x71, 0, 0};
    LoadedSong s(song);
    s.ticks(12);
    CHECK(xmChannels[0].volume == 48 - 12);
    s.ticks(6);
    CHECK(xmChannels[0].volume == 34);
    s.ticks(6);
    CHECK(xmChannels[0].volume == 40);
}

TEST_CASE("sample offset past the loop end restarts the playing voice instead of a new note") {
    XmSong song = basicSong(2, 8);
    song.instruments.push_back(instrumentWith(flatSample(1000, 1000)));
    song.patterns[0].at(0, 0) = {C4, 1, 0, 0, 0};
    song.patterns[0].at(1, 0) = {C5, 1, 0, 9, 1};  // 256 frames into a 64-frame sample
    song.patterns[0].at(1, 1) = {C4, 2, 0, 9, 2};
    LoadedSong s(song);
    s.ticks(6);
    xmVoices[0].position = 30;
    s.ticks(1);
    CHECK(xmChannels[0].voice == &xmVoices[0]);
    CHECK(xmVoices[0].position == 0);
    CHECK(xmVoices[32].sample == nullptr);
    CHECK(xmChannels[1].voice->position == 512);
}

TEST_CASE("E5x changes the sample's finetune for later notes") {
    XmSong song = basicSong(1, 8);
    song.patterns[0].at(0, 0) = {C4, 1, 0, 0xE, 0x57};
    song.patterns[0].at(1, 0) = {C4, 1, 0, 0, 0};
    LoadedSong s(song);
    s.ticks(1);
    CHECK(xmChannels[0].notePeriod == 4608);
    s.ticks(6);
    CHECK(xmChannels[0].notePeriod == 4608 - 3);
    CHECK(s.m->instruments[0].samples[0]->finetune == 7);
}

TEST_CASE("tone portamento glides without a new note; the volume column's jumps at once") {
    XmSong song = basicSong(1, 8);
    song.patterns[0].at(0, 0) = {C4, 1, 0, 0, 0};
    song.patterns[0].at(1, 0) = {C5, 1, 0, 3, 0x10};
    song.patterns[0].at(2, 0) = {C4, 0, 0xF0, 0, 0};
    song.patterns[0].at(3, 0) = {37, 0, 0, 3, 0x10};  // glide down an octave
    LoadedSong s(song);
    s.ticks(6);
    xmVoices[0].position = 20;
    s.ticks(6);
    CHECK(xmChannels[0].period == 4608 - 5 * 64);
    CHECK(xmChannels[0].portaTarget == 4608 - 768);
    s.ticks(1);
    CHECK(xmChannels[0].period == 4608);
    CHECK((xmChannels[0].voice == &xmVoices[0] && xmVoices[0].position == 20));
    s.ticks(11);
    CHECK(xmChannels[0].period == 4608 + 5 * 64);
}

TEST_CASE("vibrato and tremolo run a sine over 64 positions; vibrato's pitch moves oppositely in the tables") {
    for (bool linear : {true, false}) {
        XmSong song = basicSong(2, 8);
        song.linear = linear;
        song.patterns[0].at(0, 0) = {C4, 1, 0, 4, 0x8F};
        song.patterns[0].at(0, 1) = {C4, 1, 0x30, 7, 0x84};
        LoadedSong s(song);
        int vibrato[6], tremolo[6];
        uint32_t steps[6];
        for (int t = 0; t < 6; t++) {
            s.ticks(1);
            vibrato[t] = xmChannels[0].periodDelta;
            tremolo[t] = xmChannels[1].tremoloDelta;
            steps[t] = xmVoices[0].stepFraction;
        }
        CAPTURE(linear);
        // The sine's factor is a little short of pi/64: its peak is 255, not 256.
        const int expectedVibrato[6] = {0, 0, -84, -116, -84, 0};
        const int expectedTremolo[6] = {0, 0, 11, 15, 11, 0};
        for (int t = 0; t < 6; t++) {
            CHECK(vibrato[t] == expectedVibrato[t]);
            CHECK(tremolo[t] == expectedTremolo[t]);
        }
        CHECK((linear ? steps[3] < steps[0] : steps[3] > steps[0]));
    }
}

TEST_CASE("arpeggio offsets by tick, upwards in both tables") {
    for (bool linear : {true, false}) {
        XmSong song = basicSong(1, 8);
        song.linear = linear;
        song.patterns[0].at(0, 0) = {C4, 1, 0, 0, 0x47};
        LoadedSong s(song);
        int deltas[4];
        for (int& d : deltas) {
            s.ticks(1);
            d = xmChannels[0].periodDelta;
        }
        CAPTURE(linear);
        CHECK(deltas[0] == 0);
        CHECK(deltas[1] == (linear ? 4 * 64 : xmNotePeriod(52, 0, false) - 1712));
        CHECK(deltas[2] == (linear ? 7 * 64 : xmNotePeriod(55, 0, false) - 1712));
        CHECK(deltas[3] == 0);
    }
}

TEST_CASE("a note on a channel that never had an instrument number is silent") {
    XmSong song = basicSong(1, 8);
    song.patterns[0].at(0, 0) = {C4, 0, 0, 0, 0};
    LoadedSong s(song);
    s.ticks(1);
    CHECK(xmChannels[0].voice->sample != nullptr);
    CHECK(xmChannels[0].voice->volume == 0);
}
