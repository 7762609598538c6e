// Audio instances with their streaming thread on the DirectSound test clock, under DRD.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <tuple>
#include <vector>

#include <platform/dsound_backend.h>
#include <platform/sync.h>
#include <platform/testing/DSoundClock.h>
#include <scripthost/Audio.h>

#include "counting_source.h"

namespace {

using platform::DSoundCall;

HWND const kWindow = reinterpret_cast<HWND>(0x1000);
// 1000 Hz: halves of 250 frames; the clock plays one source frame per output frame.
constexpr std::uint32_t kRate = 1000;
constexpr std::uint32_t kHalf = kRate / 4;
constexpr std::uint32_t kRing = 2 * kHalf;
constexpr std::uint32_t kDeadlineMs = 20000;
constexpr float kSilence = -1.0f;  // marks a frame expected silent

// One device and one instance on the test clock. Every time the play cursor enters
// a half the streaming thread refills the other one; Advance waits for those refills,
// so what the test reads next is settled.
struct Rig {
  platform::testing::DSoundClock clock{kRate};
  std::unique_ptr<CDSoundAudio> device = std::make_unique<CDSoundAudio>(kWindow);
  std::unique_ptr<CAudioInstance> instance;
  std::uint32_t cursor = 0;
  std::uint32_t fills = 0;
  bool playing = false;

  // Sources: {frames, base of their counting samples, loop}.
  explicit Rig(const std::vector<std::tuple<std::uint32_t, float, bool>>& queue) {
    // The wait functions make their lock on first use; make it before any thread
    // (DRD does not take the guard of a local static as ordering).
    WaitForSingleObject(nullptr, 0);
    EXPECT_TRUE(device->Initialise());
    for (const auto& [frames, base, loop] : queue) {
      auto* source = new CountingSource(frames, kRate, 1, 32, base);
      instance ? instance->QueueSource(source, loop) : instance.reset(device->CreateInstance(nullptr, source, loop));
      source->Release();
    }
  }
  ~Rig() { instance.reset(); }
  void Lose() {
    platform::MarkDSoundBufferLost(static_cast<CDSoundAudioInstance*>(instance.get())->GetBuffer());
    playing = false;
  }

  void Play() {
    instance->Play();
    // Play fills half 0; the start notification has the thread fill half 1.
    fills += 2;
    cursor = 0;
    playing = true;
    Settle();
  }
  void Stop() { instance->Stop(), playing = false; }
  void Settle() { ASSERT_TRUE(clock.WaitForCalls(DSoundCall::Unlock, fills, kDeadlineMs)); }
  // Plays frames, a half at most at a time so that the refills keep up, and checks
  // each frame against expected(t) for t counted from the first.
  template <typename F>
  void Advance(std::uint32_t frames, F expected) {
    for (std::uint32_t done = 0; done < frames;) {
      const std::uint32_t chunk = std::min(frames - done, playing ? kHalf - cursor % kHalf : frames);
      clock.Advance(chunk);
      if (playing) {
        fills += (cursor + chunk) / kHalf - cursor / kHalf;
        cursor = (cursor + chunk) % kRing;
      }
      Settle();
      const std::vector<float> out = clock.Output();
      for (std::uint32_t t = 0; t < chunk; ++t) {
        const float want = expected(done + t);
        ASSERT_EQ(out[2 * t], want == kSilence ? 0.0f : want) << "frame " << done + t;
      }
      done += chunk;
    }
  }
  std::uint32_t Sample(bool* ended = nullptr, CAudioQueueEntry** entry = nullptr) {
    return instance->GetSample(entry, nullptr, ended);
  }
};

TEST(AudioInstanceThread, TwoSourcesPlayBackToBackThenEnd) {
  Rig rig({{300, 1000, false}, {400, 5000, false}});
  ASSERT_NE(rig.instance, nullptr);
  rig.Play();
  for (std::uint32_t step = 0; step < 10; ++step) {
    SCOPED_TRACE(step);
    const std::uint32_t at = step * 100;
    rig.Advance(100, [&](std::uint32_t t) {
      const std::uint32_t f = at + t;
      return f < 300 ? 1000.0f + f : f < 700 ? 5000.0f + (f - 300) : kSilence;
    });
    const std::uint32_t now = at + 100;
    bool ended = false;
    CAudioQueueEntry* entry = nullptr;
    const std::uint32_t frame = rig.Sample(&ended, &entry);
    EXPECT_EQ(ended, now >= 700);
    EXPECT_EQ(rig.instance->IsPlaying(), now < 700);
    EXPECT_EQ(frame, now < 300 ? now : now < 700 ? now - 300 : 0);
    EXPECT_EQ(entry, now >= 300 && now < 700 ? rig.instance->GetFirstEntry()->m_pNext : rig.instance->GetFirstEntry());
  }
}

// Stopping keeps the place under the cursor even when the half it lies in began in the source before:
// the frame counts on into the next source, and Play resumes there.
TEST(AudioInstanceThread, StopAcrossASourceBoundaryKeepsThePlaceInTheNextSource) {
  for (const std::uint32_t stopAt : {240u, 299u, 300u, 301u, 450u, 520u, 699u}) {
    SCOPED_TRACE(stopAt);
    Rig rig({{300, 1000, false}, {400, 5000, false}});
    rig.Play();
    const auto counted = [](std::uint32_t f) {
      return f < 300 ? 1000.0f + f : f < 700 ? 5000.0f + (f - 300) : kSilence;
    };
    rig.Advance(stopAt, counted);
    rig.Stop();
    CAudioQueueEntry* entry = nullptr;
    const std::uint32_t frame = rig.Sample(nullptr, &entry);
    CAudioQueueEntry* const first = rig.instance->GetFirstEntry();
    EXPECT_EQ(frame, stopAt < 300 ? stopAt : stopAt - 300);
    EXPECT_EQ(entry, stopAt < 300 ? first : first->m_pNext);
    rig.Play();
    rig.Advance(700 - stopAt + 20, [&](std::uint32_t t) { return counted(stopAt + t); });
    EXPECT_FALSE(rig.instance->IsPlaying());
  }
}

// A looping entry that has wrapped fills its halves from the restarted source: a stop keeps the frame within
// the loop, not the count of frames played.
TEST(AudioInstanceThread, StopInALoopingEntryAfterItWrapped) {
  for (const std::uint32_t stopAt : {299u, 300u, 301u, 610u, 899u, 1234u}) {
    SCOPED_TRACE(stopAt);
    Rig rig({{300, 0, true}});
    rig.Play();
    rig.Advance(stopAt, [](std::uint32_t t) { return static_cast<float>(t % 300); });
    rig.Stop();
    CAudioQueueEntry* entry = nullptr;
    EXPECT_EQ(rig.Sample(nullptr, &entry), stopAt % 300);
    EXPECT_EQ(entry, rig.instance->GetFirstEntry());
    rig.Play();
    rig.Advance(400, [&](std::uint32_t t) { return static_cast<float>((stopAt + t) % 300); });
    EXPECT_TRUE(rig.instance->IsPlaying());
  }
}

// The rate is the buffer's: twice the source's plays two frames an output frame and the halves stay as they
// were made.
TEST(AudioInstanceThread, SamplesPerSecChangesThePlaybackRateOnly) {
  Rig rig({{3000, 0, false}});
  EXPECT_EQ(rig.instance->GetSamplesPerSec(), kRate);
  // {rate asked, rate read back}: 0 asks for the source's own rate; what the buffer refuses leaves the rate.
  const std::pair<std::uint32_t, std::uint32_t> rates[] = {{2 * kRate, 2 * kRate},
                                                           {99, 2 * kRate},
                                                           {200001, 2 * kRate},
                                                           {0xFFFFFFFF, 2 * kRate},
                                                           {0, kRate},
                                                           {100, 100},
                                                           {200000, 200000},
                                                           {2 * kRate, 2 * kRate}};
  for (const auto& [asked, read] : rates) {
    rig.instance->SetSamplesPerSec(asked);
    EXPECT_EQ(rig.instance->GetSamplesPerSec(), read) << asked;
  }
  rig.Play();
  // Every kHalf / 2 output frames the cursor enters the other half, which the thread then refills.
  for (std::uint32_t step = 0; step < 8; ++step) {
    SCOPED_TRACE(step);
    rig.clock.Advance(kHalf / 2);
    rig.fills += 1;
    rig.Settle();
    const std::vector<float> out = rig.clock.Output();
    for (std::uint32_t t = 0; t < kHalf / 2; ++t) ASSERT_EQ(out[2 * t], float(step * kHalf + 2 * t)) << t;
  }
  EXPECT_EQ(rig.Sample(), 8 * kHalf);
  rig.Stop();
  rig.instance->SetSamplesPerSec(kRate);
  EXPECT_EQ(rig.instance->GetSamplesPerSec(), kRate);
  void* ring = nullptr;
  DWORD bytes = 0;
  IDirectSoundBuffer* buffer = static_cast<CDSoundAudioInstance*>(rig.instance.get())->GetBuffer();
  ASSERT_EQ(buffer->Lock(0, 0, &ring, &bytes, nullptr, nullptr, DSBLOCK_ENTIREBUFFER), DS_OK);
  buffer->Unlock(ring, bytes, nullptr, 0);
  EXPECT_EQ(bytes, kRing * 4);
}

TEST(AudioInstanceThread, LoopingEntryNeverEnds) {
  Rig rig({{300, 0, true}});
  rig.Play();
  for (std::uint32_t at = 0; at < 2000; at += 125) {
    SCOPED_TRACE(at);
    rig.Advance(125, [&](std::uint32_t t) { return static_cast<float>((at + t) % 300); });
    EXPECT_TRUE(rig.instance->IsPlaying());
    EXPECT_EQ(rig.Sample(), (at + 125) % 300);
  }
}

TEST(AudioInstanceThread, StopThenPlayResumesAndSetSampleWaitsForStop) {
  Rig rig({{2000, 0, false}});
  rig.Play();
  rig.Advance(370, [](std::uint32_t t) { return static_cast<float>(t); });
  rig.instance->SetSample(rig.instance->GetFirstEntry(), 1500);  // playing: nothing changes
  rig.Advance(30, [](std::uint32_t t) { return 370.0f + t; });
  rig.Stop();
  EXPECT_FALSE(rig.instance->IsPlaying());
  EXPECT_EQ(rig.Sample(), 400u);
  rig.Advance(50, [](std::uint32_t) { return kSilence; });
  rig.Play();
  rig.Advance(300, [](std::uint32_t t) { return 400.0f + t; });
  rig.Stop();
  rig.instance->SetSample(rig.instance->GetFirstEntry(), 1500);
  EXPECT_EQ(rig.Sample(), 1500u);
  rig.Play();
  rig.Advance(600, [](std::uint32_t t) { return t < 500 ? 1500.0f + t : kSilence; });
  EXPECT_FALSE(rig.instance->IsPlaying());
}

TEST(AudioInstanceThread, PlayAfterTheEndRestartsAtTheFirstEntry) {
  Rig rig({{100, 0, false}, {100, 200, false}});
  rig.Play();
  rig.Advance(450, [](std::uint32_t t) { return t < 100 ? t : t < 200 ? 200.0f + (t - 100) : kSilence; });
  EXPECT_FALSE(rig.instance->IsPlaying());
  // The buffer still runs silence with its thread; Play stops and joins that thread first.
  rig.Play();
  rig.Advance(150, [](std::uint32_t t) { return t < 100 ? t : 200.0f + (t - 100); });
}

TEST(AudioInstanceThread, EmptyLoopingEntryEndsInsteadOfSpinning) {
  Rig rig({{0, 0, true}, {100, 700, false}});
  rig.Play();
  rig.Advance(150, [](std::uint32_t t) { return t < 100 ? 700.0f + t : kSilence; });
  EXPECT_FALSE(rig.instance->IsPlaying());
  Rig alone({{0, 0, true}});
  alone.Play();
  EXPECT_FALSE(alone.instance->IsPlaying());
  alone.Advance(300, [](std::uint32_t) { return kSilence; });
}

TEST(AudioInstanceThread, LostBufferReadsAsNotPlayingAndPlaysAgain) {
  Rig rig({{1000, 0, false}});
  rig.Play();
  rig.Advance(100, [](std::uint32_t t) { return static_cast<float>(t); });
  rig.Lose();
  EXPECT_FALSE(rig.instance->IsPlaying());
  rig.Play();
  EXPECT_TRUE(rig.instance->IsPlaying());
}

TEST(AudioInstanceThread, QueueingWhilePlaying) {
  Rig rig({{600, 0, false}});
  rig.Play();
  auto* later = new CountingSource(200, kRate, 1, 32, 900);
  rig.instance->QueueSource(later, false);
  later->Release();
  rig.Advance(900, [](std::uint32_t t) { return t < 600 ? t : t < 800 ? 900.0f + (t - 600) : kSilence; });
}

// ---- A late streaming thread --------------------------------------------------------------------------------

using Entries = std::vector<std::tuple<std::uint32_t, float, bool>>;

// The sound of a queue from its first frame: each entry's counting values in turn (a looping entry forever),
// then silence. Index i is the i-th frame of that sound.
struct Sound {
  Entries entries;
  // The entry (by its place in the queue) and frame of index i; past the end, ended at frame 0 of the first.
  std::pair<std::uint32_t, std::uint32_t> Place(std::uint32_t i, bool* ended = nullptr) const {
    for (std::uint32_t n = 0; n < entries.size(); ++n) {
      const auto& [frames, base, loop] = entries[n];
      if (loop && frames != 0) return {n, i % frames};
      if (i < frames) return {n, i};
      i -= frames;
    }
    if (ended != nullptr) *ended = true;
    return {0, 0};
  }
  float Value(std::uint32_t i) const {
    bool ended = false;
    const auto [n, frame] = Place(i, &ended);
    return ended ? kSilence : std::get<1>(entries[n]) + float(frame);
  }
};

std::uint32_t PlaceInQueue(CAudioInstance& instance, CAudioQueueEntry* entry) {
  std::uint32_t n = 0;
  for (CAudioQueueEntry* at = instance.GetFirstEntry(); at != nullptr && at != entry; at = at->m_pNext) ++n;
  return n;
}

// Plays from `from` to `to` (frames since Play, the thread settled) and checks every frame and the position
// after each step: silence until resumeAt with the position held at index resumeFrom, then the sound on from
// resumeFrom. Steps end at every half so that the refills keep up.
void PlayOn(Rig& rig, const Sound& sound, std::uint32_t from, std::uint32_t to, std::uint32_t resumeAt,
            std::uint32_t resumeFrom) {
  const auto indexAt = [&](std::uint32_t t) { return t < resumeAt ? resumeFrom : resumeFrom + (t - resumeAt); };
  for (std::uint32_t t = from; t < to;) {
    const std::uint32_t chunk = std::min(to - t, kHalf - t % kHalf);
    rig.clock.Advance(chunk);
    rig.fills += (t % kRing + chunk) / kHalf - (t % kRing) / kHalf;
    rig.Settle();
    const std::vector<float> out = rig.clock.Output();
    for (std::uint32_t k = 0; k < chunk; ++k) {
      const std::uint32_t now = t + k;
      const float want = now < resumeAt ? kSilence : sound.Value(indexAt(now));
      ASSERT_EQ(out[2 * k], want == kSilence ? 0.0f : want) << "at " << now;
    }
    t += chunk;
    bool ended = false;
    CAudioQueueEntry* entry = nullptr;
    const std::uint32_t frame = rig.Sample(&ended, &entry);
    bool past = false;
    const auto [n, expected] = sound.Place(indexAt(t), &past);
    ASSERT_EQ((std::vector<std::uint32_t>{PlaceInQueue(*rig.instance, entry), frame, ended}),
              (std::vector<std::uint32_t>{n, expected, past}))
        << "position at " << t;
  }
}

enum class Late { Fill, Wake };

// Halves of 250 frames; the cursor enters half 1 at 250, and the refill of half 0 (frames 500-749) is due by
// 500. The thread is held from 250 to `release`: inside that refill (Fill, as a slow decoder would) or before
// it looks at the cursor at all (Wake, as a thread the system left waiting). From then on the sound must go on
// in order, worked by hand: silence (the position held) until resumeAt, then index resumeFrom onward.
struct UnderrunCase {
  Late late;
  std::uint32_t release;
  std::uint32_t resumeAt, resumeFrom;
  std::uint32_t writes;  // buffer writes the thread makes at its release
};

const UnderrunCase kUnderruns[] = {
    // In time: nothing to see.
    {Late::Fill, 450, 450, 450, 1},
    {Late::Wake, 300, 300, 300, 1},
    {Late::Wake, 499, 499, 499, 1},
    // The refill ends inside its own half, under the cursor: the half plays on from the cursor.
    {Late::Fill, 500, 500, 500, 2},
    {Late::Fill, 510, 510, 510, 2},
    {Late::Fill, 740, 740, 740, 2},
    // The refill ends with the cursor past it, both half events pending (the half under the cursor was
    // played before): silence until the cursor reaches the refilled half, which plays from 500.
    {Late::Fill, 750, 1000, 500, 2},
    {Late::Fill, 760, 1000, 500, 2},
    {Late::Fill, 990, 1000, 500, 2},
    // A whole turn late: the cursor is back in the refilled half and plays on from there.
    {Late::Fill, 1000, 1000, 500, 2},
    {Late::Fill, 1100, 1100, 600, 2},
    // A late wake-up: the half under the cursor is silenced and 500 on goes into the other.
    {Late::Wake, 500, 750, 500, 2},
    {Late::Wake, 510, 750, 500, 2},
    {Late::Wake, 760, 1000, 500, 2},
    {Late::Wake, 1010, 1250, 500, 2},
};

// Queues whose entries end inside the late halves, on the held position and right after it, and a loop.
const Entries kLayouts[] = {
    {{3000, 0, false}},
    {{600, 10000, false}, {2400, 20000, false}},
    {{500, 10000, false}, {250, 20000, false}, {1500, 30000, false}},
    {{520, 10000, false}, {230, 20000, false}, {1500, 30000, false}},
    {{700, 0, true}},
};

// Makes the thread late for the cursor's entry into a half at `crossing` (the cursor one frame before it) and lets
// it go at release; settled afterwards.
void MakeLateAt(Rig& rig, Late late, std::uint32_t crossing, std::uint32_t release, std::uint32_t writes) {
  auto* instance = static_cast<CDSoundAudioInstance*>(rig.instance.get());
  if (late == Late::Fill) {
    rig.clock.HoldNext(DSoundCall::Lock);
  } else {
    instance->Lock();
  }
  rig.clock.Advance(1);
  if (late == Late::Fill) {
    ASSERT_TRUE(rig.clock.WaitUntilHeld(kDeadlineMs));
  }
  rig.clock.Advance(release - crossing);
  late == Late::Fill ? rig.clock.Resume() : instance->Unlock();
  rig.fills += writes;
  rig.cursor = release % kRing;
  rig.Settle();
}

// Makes the thread late for the cursor's entry into half 1.
void MakeLate(Rig& rig, Late late, std::uint32_t release, std::uint32_t writes) {
  MakeLateAt(rig, late, kHalf, release, writes);
}

TEST(AudioInstanceThread, ALateThreadPlaysTheHalvesInOrderAndThePositionNeverGoesBack) {
  for (const Entries& layout : kLayouts) {
    const Sound sound{layout};
    for (const UnderrunCase& c : kUnderruns) {
      SCOPED_TRACE(testing::Message() << (c.late == Late::Fill ? "late fill " : "late wake ") << c.release
                                      << ", first entry " << std::get<0>(layout[0]));
      Rig rig(layout);
      rig.Play();
      PlayOn(rig, sound, 0, kHalf - 1, 0, 0);
      MakeLate(rig, c.late, c.release, c.writes);
      PlayOn(rig, sound, c.release, c.resumeAt + 2 * kRing, c.resumeAt, c.resumeFrom);
    }
  }
}

// Stop keeps the held position while the cursor crosses the silenced half, and Play goes on from there with
// nothing skipped.
TEST(AudioInstanceThread, StopAfterALateRefillKeepsAPlaceInsideItsEntry) {
  const Sound sound{{{600, 10000, false}, {2400, 20000, false}}};
  // {stop at, index kept}: in the silence, on its end, in the refilled half across the entries' boundary.
  const std::pair<std::uint32_t, std::uint32_t> stops[] = {
      {770, 500}, {999, 500}, {1000, 500}, {1100, 600}, {1260, 760}};
  for (const auto& [stopAt, kept] : stops) {
    SCOPED_TRACE(stopAt);
    Rig rig({{600, 10000, false}, {2400, 20000, false}});
    rig.Play();
    PlayOn(rig, sound, 0, kHalf - 1, 0, 0);
    MakeLate(rig, Late::Fill, 760, 2);
    PlayOn(rig, sound, 760, stopAt, 1000, 500);
    rig.Stop();
    CAudioQueueEntry* entry = nullptr;
    const std::uint32_t frame = rig.Sample(nullptr, &entry);
    const auto [n, expected] = sound.Place(kept);
    EXPECT_EQ((std::vector<std::uint32_t>{PlaceInQueue(*rig.instance, entry), frame}),
              (std::vector<std::uint32_t>{n, expected}));
    rig.Play();
    PlayOn(rig, sound, 0, 2 * kRing, 0, kept);
  }
}

// The first refill late: the position waits where half 0's sound ends, in the entry that sound ended in (not
// at the paused frame of the entry Play began in), and the sound goes on from there.
TEST(AudioInstanceThread, ALateFirstRefillHoldsThePositionInTheEntryWhereHalfZeroEnded) {
  const Sound sound{{{700, 1000, false}, {300, 5000, false}, {2000, 9000, false}}};
  // {release, resumeAt}: the cursor in half 1 (silenced until 500) or back in half 0 (silenced until 750).
  for (const auto& [release, resumeAt] : {std::pair{260u, 500u}, std::pair{499u, 500u}, std::pair{600u, 750u}}) {
    SCOPED_TRACE(release);
    Rig rig({{700, 1000, false}, {300, 5000, false}, {2000, 9000, false}});
    rig.instance->SetSample(rig.instance->GetFirstEntry(), 600);
    auto* instance = static_cast<CDSoundAudioInstance*>(rig.instance.get());
    instance->Lock();
    instance->Play();
    rig.playing = true;
    // {time, index}: half 0 plays 600-749 of the queue (into the second entry); past it the position holds.
    // Back in half 0 with the thread still held, the position is the old sound's: not looked at.
    for (const auto& [at, index] : {std::pair{50u, 650u}, std::pair{100u, 700u}, std::pair{249u, 849u},
                                    std::pair{250u, 850u}, std::pair{std::min(release, 2 * kHalf - 1), 850u}}) {
      rig.clock.Advance(at - rig.cursor);
      rig.cursor = at;
      CAudioQueueEntry* entry = nullptr;
      bool ended = true;
      const std::uint32_t frame = rig.Sample(&ended, &entry);
      const auto [n, expected] = sound.Place(index);
      EXPECT_EQ((std::vector<std::uint32_t>{PlaceInQueue(*rig.instance, entry), frame, ended}),
                (std::vector<std::uint32_t>{n, expected, 0}))
          << "at " << at;
    }
    rig.clock.Advance(release - rig.cursor);
    rig.cursor = release;
    instance->Unlock();
    // Play's own fill, then the silenced half and the refill.
    rig.fills = 3;
    rig.Settle();
    PlayOn(rig, sound, release, resumeAt + 2 * kRing, resumeAt, 850);
  }
}

// The rule of the table above for a refill due at `dueAt` (the sound's index dueIndex from there), the thread let
// go at release: in time, the sound goes on as it was (resumeAt, resumeFrom); a late wake-up silences the half
// under the cursor and resumes at the next half; a late fill plays on from the cursor when the cursor is in the
// refilled half, else from the next half.
UnderrunCase Expected(Late late, std::uint32_t dueAt, std::uint32_t dueIndex, std::uint32_t release,
                      std::uint32_t resumeAt, std::uint32_t resumeFrom) {
  const std::uint32_t nextHalf = (release / kHalf + 1) * kHalf;
  if (release < dueAt) return {late, release, resumeAt, resumeFrom, 1};
  const std::uint32_t into = (release - dueAt) % kRing;
  if (late == Late::Fill && into < kHalf) return {late, release, release, dueIndex + into, 2};
  return {late, release, nextHalf, dueIndex, 2};
}

// Late at a later crossing than the first, over queues of entries shorter than a half, empty ones and a short
// loop, and late twice: each underrun keeps the order of the sound the one before left.
TEST(AudioInstanceThread, ALateThreadAtAnyCrossingAndTwiceKeepsTheOrder) {
  const Entries layouts[] = {
      {{100, 10000, false}, {90, 20000, false}, {0, 30000, false}, {120, 40000, false}, {3000, 50000, false}},
      {{130, 0, true}},
  };
  for (const Entries& layout : layouts) {
    const Sound sound{layout};
    for (const auto& [crossing, first] : {std::pair{kRing, Late::Fill}, std::pair{kRing + kHalf, Late::Wake}}) {
      // First late at the half 1 entry or in time there, then late at `crossing` or a turn after the first.
      for (const std::uint32_t firstRelease : {kHalf + 10, 3 * kHalf + 10}) {
        const UnderrunCase once = Expected(first, 2 * kHalf, 2 * kHalf, firstRelease, 0, 0);
        const std::uint32_t second = firstRelease < crossing ? crossing : crossing + 2 * kRing;
        for (const Late late : {Late::Fill, Late::Wake}) {
          for (const std::uint32_t offset : {kHalf + 20, 2 * kHalf + 20, 3 * kHalf + 20, 4 * kHalf + 20}) {
            const std::uint32_t dueAt = second + kHalf;
            const UnderrunCase c = Expected(late, dueAt, once.resumeFrom + (dueAt - once.resumeAt), second + offset,
                                            once.resumeAt, once.resumeFrom);
            SCOPED_TRACE(testing::Message()
                         << "first " << firstRelease << ", late at " << second << " until " << c.release
                         << (late == Late::Fill ? " (fill)" : " (wake)") << ", first entry " << std::get<0>(layout[0]));
            Rig rig(layout);
            rig.Play();
            PlayOn(rig, sound, 0, kHalf - 1, 0, 0);
            MakeLateAt(rig, first, kHalf, firstRelease, once.writes);
            PlayOn(rig, sound, firstRelease, second - 1, once.resumeAt, once.resumeFrom);
            MakeLateAt(rig, late, second, c.release, c.writes);
            PlayOn(rig, sound, c.release, c.resumeAt + kRing, c.resumeAt, c.resumeFrom);
          }
        }
      }
    }
  }
}

TEST(AudioInstanceThread, DestructionInEveryState) {
  enum class State { Created, Playing, Stopped, Ended, Lost, DeviceGone };
  for (State state : {State::Created, State::Playing, State::Stopped, State::Ended, State::Lost, State::DeviceGone}) {
    SCOPED_TRACE(static_cast<int>(state));
    bool destroyed = false;
    {
      Rig rig({{300, 0, false}});
      static_cast<CountingSource*>(rig.instance->GetFirstEntry()->m_pSource)->destroyed_ = &destroyed;
      if (state != State::Created) rig.Play();
      if (state == State::Stopped) rig.Stop();
      if (state == State::Ended) rig.Advance(400, [](std::uint32_t t) { return t < 300 ? t : kSilence; });
      if (state == State::Lost) rig.Lose();
      if (state == State::DeviceGone) rig.device.reset();
      rig.instance.reset();
      EXPECT_TRUE(destroyed);
      EXPECT_EQ(rig.clock.OpenDevices(), state == State::DeviceGone ? 0u : 1u);
    }
  }
}

}  // namespace
