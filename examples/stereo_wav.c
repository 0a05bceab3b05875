/* A decoder's output stage: two channels of subband samples in, interleaved
 * 16-bit PCM out, written to a WAV file whose header is written by hand.
 *
 * A real decoder gets its subband samples from dequantisation; here they are
 * made up so the program runs on its own: a constant in subband k comes out
 * as a tone at (2k + 1) / 128 of the sampling rate, so the left channel
 * (subband 0) plays 344.5 Hz and the right one (subband 1) 1033.6 Hz at
 * 44100 Hz.
 *
 *   stereo_wav OUT.wav      writes one second or so: 1024 time slots
 *
 * Build: cc -std=c99 stereo_wav.c $(pkg-config --cflags --libs synthtab) */
#include <stdint.h>
#include <stdio.h>
#include <synthtab/synth.h>

enum { kChannels = 2, kRate = 44100, kSlots = 1024 };

/* Little-endian fields, whatever the CPU's byte order. */
static void put16(unsigned char *p, uint32_t v) {
  p[0] = (unsigned char)v;
  p[1] = (unsigned char)(v >> 8);
}
static void put32(unsigned char *p, uint32_t v) {
  put16(p, v & 0xffff);
  put16(p + 2, v >> 16);
}

/* The canonical 44-byte header of 16-bit PCM: RIFF, fmt, data. */
static int write_header(FILE *f, uint32_t frames) {
  unsigned char h[44] = "RIFF----WAVEfmt ";
  const uint32_t data = frames * kChannels * 2;
  put32(h + 4, 36 + data);
  put32(h + 16, 16); /* fmt chunk size */
  put16(h + 20, 1);  /* WAVE_FORMAT_PCM */
  put16(h + 22, kChannels);
  put32(h + 24, kRate);
  put32(h + 28, kRate * kChannels * 2); /* bytes per second */
  put16(h + 32, kChannels * 2);         /* bytes per frame */
  put16(h + 34, 16);                    /* bits per sample */
  h[36] = 'd', h[37] = 'a', h[38] = 't', h[39] = 'a';
  put32(h + 40, data);
  return fwrite(h, sizeof h, 1, f) == 1;
}

static int write_pcm(FILE *f, const int16_t *pcm, size_t n) {
  unsigned char b[2];
  size_t i;
  for (i = 0; i < n; i++) {
    put16(b, (uint16_t)pcm[i]);
    if (fwrite(b, 2, 1, f) != 1) return 0;
  }
  return 1;
}

static synthtab_synth synth[2]; /* one state per channel: 13.2 KiB each, no allocation */
static size_t clipped;

/* Called once per time slot with the 32 dequantised subband samples of each
 * channel; writes 32 stereo frames of interleaved 16-bit PCM (L R L R ...). */
static void output_slot(const double sb[2][32], int16_t pcm[64]) {
  int ch;
  for (ch = 0; ch < 2; ch++) clipped += synthtab_synth_s16(&synth[ch], sb[ch], pcm + ch, 2);
}

int main(int argc, char **argv) {
  /* One slot's subbands, the same in every slot: subband 0 on the left,
   * subband 1 on the right. */
  static const double sb[2][32] = {{0.25}, {0, 0.25}};
  int16_t pcm[64];
  FILE *f;
  int t, ok;
  if (argc != 2) {
    fprintf(stderr, "usage: stereo_wav OUT.wav\n");
    return 2;
  }
  f = fopen(argv[1], "wb");
  if (!f) {
    perror(argv[1]);
    return 1;
  }
  make_decode_tables(32768); /* once, before any filterbank call: 16-bit range */
  synthtab_synth_init(&synth[0]);
  synthtab_synth_init(&synth[1]);
  /* on a seek, synthtab_synth_init both states again to return to silence */

  ok = write_header(f, kSlots * 32);
  for (t = 0; ok && t < kSlots; t++) {
    output_slot(sb, pcm);
    ok = write_pcm(f, pcm, 64);
  }
  ok = fclose(f) == 0 && ok;
  if (!ok) {
    fprintf(stderr, "stereo_wav: could not write %s\n", argv[1]);
    return 1;
  }
  printf("%s: %d frames of 16-bit stereo at %d Hz, %lu samples clipped\n", argv[1], kSlots * 32,
         kRate, (unsigned long)clipped);
  return 0;
}
