#pragma once
// Ogg Vorbis files made in memory with libvorbisenc for the audio tests: channel c
// carries a sine whose amplitude is kAmplitudeStep x (c + 1), so channels can be told apart.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include <vorbis/vorbisenc.h>

namespace oggfixture {

constexpr float kAmplitudeStep = 0.1f;

inline std::vector<std::uint8_t> Encode(int channels, long rate, long frames) {
  std::vector<std::uint8_t> out;
  vorbis_info vi;
  vorbis_info_init(&vi);
  vorbis_encode_init_vbr(&vi, channels, rate, 0.4f);
  vorbis_comment vc;
  vorbis_comment_init(&vc);
  vorbis_dsp_state vd;
  vorbis_analysis_init(&vd, &vi);
  vorbis_block vb;
  vorbis_block_init(&vd, &vb);
  ogg_stream_state os;
  ogg_stream_init(&os, 1);
  ogg_packet header, comments, codebooks;
  vorbis_analysis_headerout(&vd, &vc, &header, &comments, &codebooks);
  ogg_stream_packetin(&os, &header);
  ogg_stream_packetin(&os, &comments);
  ogg_stream_packetin(&os, &codebooks);
  ogg_page page;
  auto append = [&] {
    out.insert(out.end(), page.header, page.header + page.header_len);
    out.insert(out.end(), page.body, page.body + page.body_len);
  };
  while (ogg_stream_flush(&os, &page) != 0) append();
  constexpr long kChunk = 1024;
  for (long done = 0;;) {
    const long n = std::min(kChunk, frames - done);
    if (n <= 0) {
      vorbis_analysis_wrote(&vd, 0);
    } else {
      float** buffer = vorbis_analysis_buffer(&vd, int(n));
      for (long f = 0; f < n; ++f)
        for (int c = 0; c < channels; ++c)
          buffer[c][f] = kAmplitudeStep * float(c + 1) * std::sin(float(done + f) * 0.05f);
      vorbis_analysis_wrote(&vd, int(n));
      done += n;
    }
    while (vorbis_analysis_blockout(&vd, &vb) == 1) {
      vorbis_analysis(&vb, nullptr);
      vorbis_bitrate_addblock(&vb);
      ogg_packet packet;
      while (vorbis_bitrate_flushpacket(&vd, &packet) != 0) {
        ogg_stream_packetin(&os, &packet);
        while (ogg_stream_pageout(&os, &page) != 0) append();
      }
    }
    if (n <= 0) break;
  }
  while (ogg_stream_flush(&os, &page) != 0) append();
  ogg_stream_clear(&os);
  vorbis_block_clear(&vb);
  vorbis_dsp_clear(&vd);
  vorbis_comment_clear(&vc);
  vorbis_info_clear(&vi);
  return out;
}

}  // namespace oggfixture
