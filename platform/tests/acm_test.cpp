#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include <sndfile.h>

#include <platform/acm.h>

#include "WaveFixture.h"

namespace {

ADPCMWAVEFORMAT AdpcmFormat(WORD channels, WORD blockAlign, DWORD rate = 22050) {
  ADPCMWAVEFORMAT f{};
  f.wfx = {WAVE_FORMAT_ADPCM, channels, rate, 0, blockAlign, 4, kAdpcmStandardExtra};
  f.wSamplesPerBlock = WORD((blockAlign - 7 * channels) * 2 / channels + 2);
  f.wfx.nAvgBytesPerSec = rate * blockAlign / f.wSamplesPerBlock;
  f.wNumCoef = kAdpcmStandardCoefficients;
  std::memcpy(f.aCoef, kAdpcmStandardCoefficientTable, sizeof(f.aCoef));
  return f;
}

WAVEFORMATEX PcmFormat(WORD channels, DWORD rate = 22050) {
  return {WAVE_FORMAT_PCM, channels, rate, rate * 2u * channels, WORD(2 * channels), 16, 0};
}

// Opens a stream, prepares a header over the buffers, converts, and tears down.
struct Conversion {
  MMRESULT result;
  DWORD srcUsed, dstUsed;
};
Conversion Convert(ADPCMWAVEFORMAT source, std::vector<std::uint8_t> blocks, std::vector<std::int16_t>& out,
                   DWORD srcLength, DWORD dstLength, DWORD preparedSrc, DWORD preparedDst) {
  WAVEFORMATEX pcm = PcmFormat(source.wfx.nChannels, source.wfx.nSamplesPerSec);
  HACMSTREAM stream = nullptr;
  EXPECT_EQ(acmStreamOpen(&stream, nullptr, &source.wfx, &pcm, nullptr, 0, 0, 0), MMSYSERR_NOERROR);
  blocks.resize(std::max<std::size_t>(blocks.size(), preparedSrc));
  out.assign(std::max<DWORD>(preparedDst, dstLength) / 2, 0);
  ACMSTREAMHEADER header{};
  header.cbStruct = sizeof(header);
  header.pbSrc = blocks.data();
  header.cbSrcLength = preparedSrc;
  header.pbDst = reinterpret_cast<BYTE*>(out.data());
  header.cbDstLength = preparedDst;
  EXPECT_EQ(acmStreamPrepareHeader(stream, &header, 0), MMSYSERR_NOERROR);
  header.cbSrcLength = srcLength;
  header.cbDstLength = dstLength;
  const MMRESULT result =
      acmStreamConvert(stream, &header, ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_BLOCKALIGN);
  EXPECT_EQ(acmStreamUnprepareHeader(stream, &header, 0), MMSYSERR_NOERROR);
  EXPECT_EQ(acmStreamClose(stream, 0), MMSYSERR_NOERROR);
  out.resize(header.cbDstLengthUsed / 2);
  return {result, header.cbSrcLengthUsed, header.cbDstLengthUsed};
}

// Worked by hand: predictor 0 (256, 0) continues the last sample; predictor 1 (512, -256) extends the
// line of the last two; each nibble adds nibble x delta, and delta scales by the adaptation table (at least 16).
TEST(Acm, HandWorkedBlocks) {
  struct Case {
    const char* name;
    WORD channels, blockAlign;
    std::vector<std::uint8_t> block;
    std::vector<std::int16_t> samples;
  } cases[] = {
      {"mono", 1, 10, {0, 16, 0, 100, 0, 50, 0, 0x12, 0x7F, 0}, {50, 100, 116, 148, 260, 222, 222, 222}},
      {"stereo", 2, 26, {0, 1, 16, 0, 20, 0, 100, 0, 30, 0, 50, 0, 10, 0, 0x12, 0x7F, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
       {50, 10, 100, 30, 116, 90, 228, 133, 228, 176, 228, 219, 228, 262, 228, 305, 228, 348, 228, 391, 228, 434,
        228, 477, 228, 520, 228, 563}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::int16_t> out;
    const DWORD pcmBytes = DWORD(c.samples.size() * 2);
    const Conversion r =
        Convert(AdpcmFormat(c.channels, c.blockAlign), c.block, out, c.blockAlign, pcmBytes, c.blockAlign, pcmBytes);
    EXPECT_EQ(r.result, MMSYSERR_NOERROR);
    EXPECT_EQ(r.srcUsed, c.blockAlign);
    EXPECT_EQ(out, c.samples);
  }
}

TEST(Acm, DecodesAsLibsndfileReadsTheWholeFile) {
  for (int channels : {1, 2}) {
    SCOPED_TRACE(channels);
    const wavefixture::AdpcmFile file = wavefixture::EncodeAdpcm(channels, 22050, 5000);
    std::uint32_t formatBytes = 0, dataBytes = 0;
    const auto* format =
        reinterpret_cast<const ADPCMWAVEFORMAT*>(wavefixture::FindChunk(file.bytes, "fmt ", &formatBytes));
    const std::uint8_t* data = wavefixture::FindChunk(file.bytes, "data", &dataBytes);
    ASSERT_TRUE(format && data);
    const std::vector<std::int16_t>& expected = file.decoded;

    std::vector<std::int16_t> out;
    const DWORD pcmBytes = DWORD(expected.size() * 2);
    const Conversion r = Convert(*format, std::vector<std::uint8_t>(data, data + dataBytes), out, dataBytes,
                                 pcmBytes, dataBytes, pcmBytes);
    EXPECT_EQ(r.result, MMSYSERR_NOERROR);
    EXPECT_EQ(out, expected);
  }
}

TEST(Acm, LengthsAndBlocks) {
  const ADPCMWAVEFORMAT format = AdpcmFormat(1, 256);  // 500 samples, 1000 bytes of output a block
  const std::vector<std::uint8_t> blocks(1024, 0x11);
  struct Case {
    const char* name;
    DWORD src, dst, preparedSrc, preparedDst;
    MMRESULT result;
    DWORD srcUsed, dstUsed;
  } cases[] = {
      {"whole blocks", 1024, 4000, 1024, 4000, MMSYSERR_NOERROR, 1024, 4000},
      {"a partial block is left", 700, 4000, 1024, 4000, MMSYSERR_NOERROR, 512, 2000},
      {"less than a block", 255, 4000, 1024, 4000, MMSYSERR_NOERROR, 0, 0},
      {"only blocks whose output fits", 1024, 2999, 1024, 4000, MMSYSERR_NOERROR, 512, 2000},
      {"source past the prepared length", 1024, 4000, 768, 4000, MMSYSERR_INVALPARAM, 0, 0},
      {"destination past the prepared length", 1024, 4000, 1024, 3000, MMSYSERR_INVALPARAM, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::int16_t> out;
    const Conversion r = Convert(format, blocks, out, c.src, c.dst, c.preparedSrc, c.preparedDst);
    EXPECT_EQ(r.result, c.result);
    EXPECT_EQ(r.srcUsed, c.srcUsed);
    EXPECT_EQ(r.dstUsed, c.dstUsed);
  }
}

TEST(Acm, RefusedFormatsAndCalls) {
  const ADPCMWAVEFORMAT good = AdpcmFormat(2, 512);
  ADPCMWAVEFORMAT foreignTable = good, badSamples = good, threeChannels = AdpcmFormat(3, 512), pcmSource = good,
                  smallBlock = AdpcmFormat(2, 24);
  foreignTable.aCoef[3].iCoef1 = 200;
  badSamples.wSamplesPerBlock = 1000;
  pcmSource.wfx.wFormatTag = WAVE_FORMAT_PCM;
  WAVEFORMATEX stereo = PcmFormat(2), mono = PcmFormat(1), otherRate = PcmFormat(2, 44100), eightBit = PcmFormat(2);
  eightBit.wBitsPerSample = 8;
  struct Case {
    const char* name;
    const ADPCMWAVEFORMAT* source;
    WAVEFORMATEX* destination;
  } cases[] = {{"foreign coefficients", &foreignTable, &stereo}, {"samples per block", &badSamples, &stereo},
               {"three channels", &threeChannels, &stereo},     {"PCM source", &pcmSource, &stereo},
               {"other channels", &good, &mono},                {"other rate", &good, &otherRate},
               {"8-bit output", &good, &eightBit},              {"block too small to decode", &smallBlock, &stereo}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    HACMSTREAM stream = nullptr;
    ADPCMWAVEFORMAT source = *c.source;
    EXPECT_EQ(acmStreamOpen(&stream, nullptr, &source.wfx, c.destination, nullptr, 0, 0, 0), ACMERR_NOTPOSSIBLE);
    EXPECT_EQ(stream, nullptr);
  }
  ADPCMWAVEFORMAT source = good;
  EXPECT_EQ(acmStreamOpen(nullptr, nullptr, &source.wfx, &stereo, nullptr, 0, 0, ACM_STREAMOPENF_QUERY),
            MMSYSERR_NOERROR);
  HACMSTREAM stream = nullptr;
  ASSERT_EQ(acmStreamOpen(&stream, nullptr, &source.wfx, &stereo, nullptr, 0, 0, 0), MMSYSERR_NOERROR);
  std::uint8_t buffer[16] = {};
  ACMSTREAMHEADER header{sizeof(header), 0, 0, buffer, 16, 0, 0, buffer, 16, 0, 0, {}};
  EXPECT_EQ(acmStreamConvert(stream, &header, 0), ACMERR_UNPREPARED);
  EXPECT_EQ(acmStreamUnprepareHeader(stream, &header, 0), ACMERR_UNPREPARED);
  ASSERT_EQ(acmStreamPrepareHeader(stream, &header, 0), MMSYSERR_NOERROR);
  EXPECT_EQ(acmStreamPrepareHeader(stream, &header, 0), MMSYSERR_INVALPARAM);
  EXPECT_EQ(acmStreamConvert(stream, &header, 0x100), MMSYSERR_INVALFLAG);
  EXPECT_EQ(acmStreamUnprepareHeader(stream, &header, 0), MMSYSERR_NOERROR);
  EXPECT_EQ(acmStreamClose(stream, 0), MMSYSERR_NOERROR);
  EXPECT_EQ(acmStreamClose(stream, 0), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(acmStreamConvert(stream, &header, 0), MMSYSERR_INVALHANDLE);
}

}  // namespace
