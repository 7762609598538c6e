#pragma once
// An Ogg Vorbis stream decoded through vorbisfile (the Ogg data begins where
// the stream stands when Open is called) into interleaved 32-bit
// float frames, its channels in the order of the source's speaker mask where
// the mask and Vorbis name the same speakers (three channels: FL, FR, C; six:
// FL, FR, C, LFE, RL, RR). Vorbis's own order is kept for five, seven and eight
// channels, whose masks name other speakers.
//
// Errors: Open answers false (a stream that is not Ogg Vorbis without a
// message, one without stream information with one); Read answers the bytes of
// the whole frames stored, 0 at the end or at a decoding error; Seek answers 0
// or vorbisfile's error; GetPosition answers OV_EINVAL (-131) before Open. An
// unseekable stream decodes from where it stands but has no length and no seek.
// Locking: none; one holder at a time (see CAudioSource).
#include <cstdint>
#include <memory>

#include <base/AudioSource.h>

class CStream;
struct OggVorbis_File;

// What vorbisfile reads through: the stream and the position where the Ogg data begins.
struct COggStreamPlace {
  CStream* stream;  // not counted (the source holds the reference)
  std::uint64_t origin;
};

class COggAudioSource : public CAudioSource {
 public:
  // Count 1; takes a reference on stream; not opened.
  explicit COggAudioSource(CStream* stream);
  ~COggAudioSource() override;

  std::uint32_t Read(void* buffer, std::uint32_t bytes) override;
  std::int32_t Seek(std::uint32_t frame) override;
  std::int32_t GetPosition() override;
  // False when vorbisfile knows no total (an unseekable stream) or it exceeds 32 bits.
  bool GetLength(std::uint32_t* frames) override;
  std::uint32_t GetChannels() override { return m_channels; }
  std::uint32_t GetSamplesPerSec() override { return m_rate; }
  std::uint32_t GetBitsPerSample() override;
  bool Open(tTaskContext* task) override;

 private:
  CStream* m_stream;  // counted
  COggStreamPlace m_place;
  std::unique_ptr<OggVorbis_File> m_file;
  std::uint32_t m_channels = 0;
  std::uint32_t m_rate = 0;
  bool m_opened = false;
  std::int64_t m_length = -1;  // frames; negative when unknown
};
