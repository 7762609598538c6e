// Ogg Vorbis audio sources over base-library streams through vorbisfile.
#include <base/OggAudioSource.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <iterator>

#include <vorbis/vorbisfile.h>

#include <base/Stream.h>
#include <base/TaskContext.h>

namespace {

constexpr std::uint32_t kFloatBits = 32;
constexpr std::uint32_t kFloatBytes = kFloatBits / 8;
constexpr int kWholeStream = -1;
constexpr int kSeekFailed = -1;

// For each output channel, the Vorbis channel it takes, by channel count.
constexpr std::uint8_t kThreeChannels[] = {0, 2, 1};           // FL C FR -> FL FR C
constexpr std::uint8_t kSixChannels[] = {0, 2, 1, 5, 3, 4};    // FL C FR RL RR LFE -> FL FR C LFE RL RR
const std::uint8_t* ChannelMap(std::uint32_t channels) {
  switch (channels) {
    case std::size(kThreeChannels): return kThreeChannels;
    case std::size(kSixChannels): return kSixChannels;
    default: return nullptr;
  }
}

std::uint32_t Origin(int whence) {
  switch (whence) {
    case SEEK_CUR: return CStream::kSeekCurrent;
    case SEEK_END: return CStream::kSeekEnd;
    default: return CStream::kSeekBegin;
  }
}

size_t ReadStream(void* buffer, size_t size, size_t count, void* place) {
  if (size > UINT32_MAX || count > UINT32_MAX) return 0;
  return static_cast<COggStreamPlace*>(place)->stream->Read(buffer, std::uint32_t(size), std::uint32_t(count));
}

// vorbisfile's positions count from the start of the Ogg data. -1 tells it that the stream cannot seek.
int SeekStream(void* place, ogg_int64_t offset, int whence) {
  const auto* p = static_cast<COggStreamPlace*>(place);
  if (whence == SEEK_SET) offset += std::int64_t(p->origin);
  return p->stream->Seek(offset, Origin(whence)) ? 0 : kSeekFailed;
}

// vorbisfile takes positions as a long: a position it cannot hold is an error, not a wrapped value.
long TellStream(void* place) {
  const auto* p = static_cast<COggStreamPlace*>(place);
  std::uint64_t position = 0;
  if (!p->stream->GetPosition(&position) || position < p->origin || position - p->origin > std::uint64_t(LONG_MAX))
    return -1;
  return long(position - p->origin);
}

}  // namespace

COggAudioSource::COggAudioSource(CStream* stream) : m_stream(stream), m_place{stream, 0} { m_stream->AddRef(); }

COggAudioSource::~COggAudioSource() {
  if (m_opened) ov_clear(m_file.get());
  m_stream->Release();
}

std::uint32_t COggAudioSource::GetBitsPerSample() { return kFloatBits; }

bool COggAudioSource::Open(tTaskContext* task) {
  if (m_opened) return true;
  m_file = std::make_unique<OggVorbis_File>();
  const ov_callbacks callbacks{ReadStream, SeekStream, nullptr, TellStream};
  if (!m_stream->GetPosition(&m_place.origin)) m_place.origin = 0;
  if (ov_open_callbacks(&m_place, m_file.get(), nullptr, 0, callbacks) != 0) return false;
  const vorbis_info* info = ov_info(m_file.get(), kWholeStream);
  if (info == nullptr || info->channels <= 0 || info->rate <= 0) {
    task->AddError("Failed to get Vorbis info.");
    ov_clear(m_file.get());
    return false;
  }
  m_channels = std::uint32_t(info->channels);
  m_rate = std::uint32_t(info->rate);
  m_length = ov_pcm_total(m_file.get(), kWholeStream);
  m_opened = true;
  return true;
}

bool COggAudioSource::GetLength(std::uint32_t* frames) {
  if (!m_opened || m_length < 0 || m_length > std::int64_t(UINT32_MAX)) return false;
  *frames = std::uint32_t(m_length);
  return true;
}

std::int32_t COggAudioSource::Seek(std::uint32_t frame) {
  if (!m_opened) return OV_EINVAL;
  return ov_pcm_seek(m_file.get(), frame);
}

std::int32_t COggAudioSource::GetPosition() {
  if (!m_opened) return OV_EINVAL;
  const ogg_int64_t position = ov_pcm_tell(m_file.get());
  return position > INT32_MAX ? OV_EINVAL : std::int32_t(position);
}

std::uint32_t COggAudioSource::Read(void* buffer, std::uint32_t bytes) {
  if (!m_opened) return 0;
  auto* out = static_cast<float*>(buffer);
  const std::uint32_t wanted = bytes / kFloatBytes / m_channels;
  const std::uint8_t* map = ChannelMap(m_channels);
  std::uint32_t stored = 0;
  while (stored < wanted) {
    float** channels = nullptr;
    int stream = 0;
    const long got = ov_read_float(m_file.get(), &channels, int(std::min<std::uint32_t>(wanted - stored, INT_MAX)),
                                   &stream);
    if (got <= 0) break;  // the end, or a decoding error
    // A chained stream may change its layout: only frames of the opened one are handed out.
    const vorbis_info* info = ov_info(m_file.get(), stream);
    if (info == nullptr || std::uint32_t(info->channels) != m_channels) break;
    for (long f = 0; f < got; ++f) {
      float* frame = out + std::size_t(stored + f) * m_channels;
      for (std::uint32_t c = 0; c < m_channels; ++c) frame[c] = channels[map != nullptr ? map[c] : c][f];
    }
    stored += std::uint32_t(got);
  }
  return stored * m_channels * kFloatBytes;
}
