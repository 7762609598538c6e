// The ACM stand-in: MS-ADPCM streams decoded by libsndfile from a RIFF/WAVE image built around the blocks.
#include <platform/acm.h>

#include <sndfile.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <set>
#include <vector>

const ADPCMCOEFSET kAdpcmStandardCoefficientTable[kAdpcmStandardCoefficients] = {
    {256, 0}, {512, -256}, {0, 0}, {192, 64}, {240, 0}, {460, -208}, {392, -232}};

struct ACMSTREAM {
  ADPCMWAVEFORMAT source;
  std::uint32_t outputBytesPerBlock;
  // "RIFF" .. "data" and its size, rewritten for each conversion.
  std::vector<std::uint8_t> header;
};

namespace {

constexpr WORD kPcmBits = 16;
constexpr WORD kBytesPerPcmSample = kPcmBits / 8;
constexpr WORD kMaxChannels = 2;
constexpr WORD kBlockHeaderBytesPerChannel = 7;
constexpr WORD kNibblesPerByte = 2;
constexpr WORD kHeaderSamplesPerChannel = 2;  // the two samples a block header carries
constexpr DWORD kConvertFlags = ACM_STREAMCONVERTF_BLOCKALIGN | ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END;
constexpr std::size_t kPreparedSource = 0;  // dwReservedDriver slots
constexpr std::size_t kPreparedDestination = 1;
constexpr std::uint32_t kChunkHeaderBytes = 8;
constexpr std::uint32_t kRiffFormBytes = 4;  // "WAVE" after the RIFF size

std::mutex g_streamsLock;
std::set<HACMSTREAM> g_streams;

bool IsOpen(HACMSTREAM stream) {
  std::lock_guard lock(g_streamsLock);
  return g_streams.count(stream) != 0;
}

bool IsDecodableAdpcm(const WAVEFORMATEX* format) {
  if (format->wFormatTag != WAVE_FORMAT_ADPCM || format->nChannels == 0 || format->nChannels > kMaxChannels ||
      format->nSamplesPerSec == 0 || format->wBitsPerSample != 4 || format->cbSize < kAdpcmStandardExtra) {
    return false;
  }
  const auto* adpcm = reinterpret_cast<const ADPCMWAVEFORMAT*>(format);
  const std::uint32_t channels = format->nChannels;
  const std::uint32_t blockHeader = kBlockHeaderBytesPerChannel * channels;
  if (format->nBlockAlign <= blockHeader) return false;
  const std::uint32_t samples = (format->nBlockAlign - blockHeader) * kNibblesPerByte / channels + kHeaderSamplesPerChannel;
  if (adpcm->wSamplesPerBlock != samples || adpcm->wNumCoef != kAdpcmStandardCoefficients) return false;
  return std::memcmp(adpcm->aCoef, kAdpcmStandardCoefficientTable, sizeof(kAdpcmStandardCoefficientTable)) == 0;
}

bool IsMatchingPcm(const WAVEFORMATEX* pcm, const WAVEFORMATEX* source) {
  return pcm->wFormatTag == WAVE_FORMAT_PCM && pcm->nChannels == source->nChannels &&
         pcm->nSamplesPerSec == source->nSamplesPerSec && pcm->wBitsPerSample == kPcmBits &&
         pcm->nBlockAlign == pcm->nChannels * kBytesPerPcmSample &&
         pcm->nAvgBytesPerSec == pcm->nBlockAlign * pcm->nSamplesPerSec;
}

void PutU32(std::uint8_t* at, std::uint32_t value) { std::memcpy(at, &value, sizeof(value)); }

// libsndfile reads the header from the stream's own bytes and the blocks from the caller's buffer.
struct VirtualWave {
  const std::uint8_t* header;
  std::uint32_t headerBytes;
  const std::uint8_t* blocks;
  std::uint32_t blockBytes;
  std::uint32_t position;
};

sf_count_t WaveLength(void* user) {
  auto* w = static_cast<VirtualWave*>(user);
  return sf_count_t(w->headerBytes) + w->blockBytes;
}
sf_count_t WaveSeek(sf_count_t offset, int whence, void* user) {
  auto* w = static_cast<VirtualWave*>(user);
  const sf_count_t base = whence == SEEK_CUR ? w->position : whence == SEEK_END ? WaveLength(user) : 0;
  const sf_count_t target = std::clamp<sf_count_t>(base + offset, 0, WaveLength(user));
  w->position = std::uint32_t(target);
  return target;
}
sf_count_t WaveRead(void* buffer, sf_count_t count, void* user) {
  auto* w = static_cast<VirtualWave*>(user);
  auto* out = static_cast<std::uint8_t*>(buffer);
  sf_count_t done = 0;
  while (done < count && w->position < WaveLength(user)) {
    const bool inHeader = w->position < w->headerBytes;
    const std::uint8_t* from = inHeader ? w->header + w->position : w->blocks + (w->position - w->headerBytes);
    const std::uint32_t left = inHeader ? w->headerBytes - w->position : w->headerBytes + w->blockBytes - w->position;
    const std::uint32_t n = std::uint32_t(std::min<sf_count_t>(left, count - done));
    std::memcpy(out + done, from, n);
    done += n;
    w->position += n;
  }
  return done;
}
sf_count_t WaveWrite(const void*, sf_count_t, void*) { return 0; }
sf_count_t WaveTell(void* user) { return static_cast<VirtualWave*>(user)->position; }

void BuildHeader(ACMSTREAM& stream) {
  const std::uint32_t formatBytes = sizeof(WAVEFORMATEX) + stream.source.wfx.cbSize;
  stream.header.assign(kChunkHeaderBytes + kRiffFormBytes + kChunkHeaderBytes + formatBytes + kChunkHeaderBytes, 0);
  std::uint8_t* p = stream.header.data();
  std::memcpy(p, "RIFF", 4);
  std::memcpy(p + kChunkHeaderBytes, "WAVE", 4);
  p += kChunkHeaderBytes + kRiffFormBytes;
  std::memcpy(p, "fmt ", 4);
  PutU32(p + 4, formatBytes);
  // Only the standard extension exists here (checked at open); longer ones keep zeros beyond it.
  std::memcpy(p + kChunkHeaderBytes, &stream.source, std::min<std::uint32_t>(formatBytes, sizeof(stream.source)));
  p += kChunkHeaderBytes + formatBytes;
  std::memcpy(p, "data", 4);
}

// Decodes whole blocks into interleaved 16-bit samples.
bool DecodeBlocks(ACMSTREAM& stream, const std::uint8_t* source, std::uint32_t blocks, short* destination) {
  VirtualWave wave{stream.header.data(), std::uint32_t(stream.header.size()), source,
                   blocks * stream.source.wfx.nBlockAlign, 0};
  PutU32(stream.header.data() + kRiffFormBytes, wave.headerBytes - kChunkHeaderBytes + wave.blockBytes);
  PutU32(stream.header.data() + stream.header.size() - kRiffFormBytes, wave.blockBytes);
  SF_VIRTUAL_IO io{WaveLength, WaveSeek, WaveRead, WaveWrite, WaveTell};
  SF_INFO info{};
  SNDFILE* file = sf_open_virtual(&io, SFM_READ, &info, &wave);
  if (file == nullptr) return false;
  const sf_count_t frames = sf_count_t(blocks) * stream.source.wSamplesPerBlock;
  const sf_count_t decoded = sf_readf_short(file, destination, frames);
  sf_close(file);
  return decoded == frames;
}

// The decoder refuses some small blocks that the format allows: a silent block must decode.
bool DecoderTakes(ACMSTREAM& stream) {
  std::vector<std::uint8_t> silence(stream.source.wfx.nBlockAlign, 0);
  std::vector<short> samples(stream.outputBytesPerBlock / kBytesPerPcmSample);
  return DecodeBlocks(stream, silence.data(), 1, samples.data());
}

}  // namespace

MMRESULT WINAPI acmStreamOpen(LPHACMSTREAM stream, HACMDRIVER driver, LPWAVEFORMATEX source,
                              LPWAVEFORMATEX destination, void* filter, DWORD_PTR callback, DWORD_PTR,
                              DWORD flags) {
  if (source == nullptr || destination == nullptr || driver != nullptr || filter != nullptr || callback != 0)
    return MMSYSERR_INVALPARAM;
  if ((flags & ~(ACM_STREAMOPENF_QUERY | ACM_STREAMOPENF_NONREALTIME)) != 0) return MMSYSERR_INVALFLAG;
  const bool query = (flags & ACM_STREAMOPENF_QUERY) != 0;
  if (!query && stream == nullptr) return MMSYSERR_INVALPARAM;
  if (!IsDecodableAdpcm(source) || !IsMatchingPcm(destination, source)) return ACMERR_NOTPOSSIBLE;
  auto* made = new (std::nothrow) ACMSTREAM{};
  if (made == nullptr) return MMSYSERR_NOMEM;
  std::memcpy(&made->source, source, sizeof(made->source));
  made->source.wfx.cbSize = kAdpcmStandardExtra;
  made->outputBytesPerBlock = std::uint32_t(made->source.wSamplesPerBlock) * destination->nBlockAlign;
  BuildHeader(*made);
  const bool taken = DecoderTakes(*made);
  if (query || !taken) {
    delete made;
    return taken ? MMSYSERR_NOERROR : ACMERR_NOTPOSSIBLE;
  }
  {
    std::lock_guard lock(g_streamsLock);
    g_streams.insert(made);
  }
  *stream = made;
  return MMSYSERR_NOERROR;
}

MMRESULT WINAPI acmStreamClose(HACMSTREAM stream, DWORD flags) {
  if (flags != 0) return MMSYSERR_INVALFLAG;
  {
    std::lock_guard lock(g_streamsLock);
    if (g_streams.erase(stream) == 0) return MMSYSERR_INVALHANDLE;
  }
  delete stream;
  return MMSYSERR_NOERROR;
}

MMRESULT WINAPI acmStreamPrepareHeader(HACMSTREAM stream, LPACMSTREAMHEADER header, DWORD flags) {
  if (!IsOpen(stream)) return MMSYSERR_INVALHANDLE;
  if (flags != 0) return MMSYSERR_INVALFLAG;
  if (header == nullptr || header->cbStruct < sizeof(ACMSTREAMHEADER) || header->pbSrc == nullptr ||
      header->pbDst == nullptr || (header->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED) != 0) {
    return MMSYSERR_INVALPARAM;
  }
  header->dwReservedDriver[kPreparedSource] = header->cbSrcLength;
  header->dwReservedDriver[kPreparedDestination] = header->cbDstLength;
  header->cbSrcLengthUsed = 0;
  header->cbDstLengthUsed = 0;
  header->fdwStatus = ACMSTREAMHEADER_STATUSF_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT WINAPI acmStreamUnprepareHeader(HACMSTREAM stream, LPACMSTREAMHEADER header, DWORD flags) {
  if (!IsOpen(stream)) return MMSYSERR_INVALHANDLE;
  if (flags != 0) return MMSYSERR_INVALFLAG;
  if (header == nullptr || header->cbStruct < sizeof(ACMSTREAMHEADER)) return MMSYSERR_INVALPARAM;
  if ((header->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED) == 0) return ACMERR_UNPREPARED;
  header->fdwStatus &= ~(ACMSTREAMHEADER_STATUSF_PREPARED | ACMSTREAMHEADER_STATUSF_DONE);
  return MMSYSERR_NOERROR;
}

MMRESULT WINAPI acmStreamConvert(HACMSTREAM stream, LPACMSTREAMHEADER header, DWORD flags) {
  if (!IsOpen(stream)) return MMSYSERR_INVALHANDLE;
  if ((flags & ~kConvertFlags) != 0) return MMSYSERR_INVALFLAG;
  if (header == nullptr || header->cbStruct < sizeof(ACMSTREAMHEADER)) return MMSYSERR_INVALPARAM;
  if ((header->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED) == 0) return ACMERR_UNPREPARED;
  if (header->cbSrcLength > header->dwReservedDriver[kPreparedSource] ||
      header->cbDstLength > header->dwReservedDriver[kPreparedDestination]) {
    return MMSYSERR_INVALPARAM;
  }
  const std::uint32_t blockAlign = stream->source.wfx.nBlockAlign;
  const std::uint32_t blocks =
      std::min(header->cbSrcLength / blockAlign, header->cbDstLength / stream->outputBytesPerBlock);
  header->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_DONE;
  header->cbSrcLengthUsed = 0;
  header->cbDstLengthUsed = 0;
  if (blocks != 0) {
    if (!DecodeBlocks(*stream, header->pbSrc, blocks, reinterpret_cast<short*>(header->pbDst))) return MMSYSERR_ERROR;
    header->cbSrcLengthUsed = blocks * blockAlign;
    header->cbDstLengthUsed = blocks * stream->outputBytesPerBlock;
  }
  header->fdwStatus |= ACMSTREAMHEADER_STATUSF_DONE;
  return MMSYSERR_NOERROR;
}
