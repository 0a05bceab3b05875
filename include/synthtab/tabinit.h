/*
 * synthtab: the tables the MPEG-1 audio synthesis stage reads.
 *
 * One call, make_decode_tables(scale), fills two sets of process-wide tables:
 *
 *   pnts[5]      Pointers to the reciprocal-cosine factors of a fast 32-point
 *                DCT that halves its length per stage. pnts[i] points at the
 *                16 >> i factors of stage i; factor k of stage i is
 *                1 / (2 cos((2k + 1) pi / (64 >> i))), pi being the double
 *                nearest to pi. Every factor lies above 0.5 and they rise
 *                with k. The scale plays no part.
 *
 *   dewin[512]   Constant: the standard's synthesis window D[0..256] with the
 *                sign of every second block of 64 flipped (slot i holds D[i]
 *                where i / 64 is even, -D[i] where it is odd). Slots 257..511
 *                hold 0.0; window positions beyond 256 mirror the first half.
 *
 *   decwin[544]  The window, scaled, sign-alternated and transposed into 17
 *                rows of 32 slots (row m is decwin[32m .. 32m + 31]). For
 *                m = 0..16 and column g = 0..15, window position i = 32g + m:
 *                  decwin[32m + g] == decwin[32m + g + 16]
 *                                  == sign(i) * scale * dewin[i <= 256 ? i : 512 - i]
 *                where sign(i) is -1 when i / 64 is even and +1 when odd.
 *                Each row holds its 16 coefficients twice, so a reader can
 *                take 16 in a row from any starting column without wrapping.
 *
 * Every step (cosine, doubling, reciprocal, product with the scale) is
 * rounded to a 64-bit significand, nearest even, and the result to double
 * when stored: long double arithmetic where it is the x87 format, an exact
 * integer emulation of it elsewhere. Every CPU stores the same bits.
 *
 * Before the first call the factor tables and decwin read as zeros; pnts and
 * dewin are valid from static initialisation, nothing runs at start-up.
 * Every call rewrites every entry, so decwin reflects the latest scale alone.
 *
 * Threading: no locks. A call writes the shared tables in place; it must not
 * overlap another call or any reader of the tables. Call once, then read
 * from as many threads as you like.
 *
 * Compiles as C99 and as C++; the names have C linkage.
 */
#ifndef SYNTHTAB_TABINIT_H
#define SYNTHTAB_TABINIT_H

#include <stdint.h>
#include <synthtab/export.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Fills the factor tables and rebuilds decwin for this output scale
 * (32768 gives 16-bit PCM range). Any 32-bit value is accepted: INT32_MIN
 * scales by +2^31 after the internal negation, as the exact value would. */
SYNTHTAB_API void make_decode_tables(int32_t scale);

/* pnts[i]: the 16 >> i factors of stage i. Writable: pointing an element at
 * a table of your own (16 >> i doubles) before a call makes the call fill
 * that table instead; a NULL element points back at the library's own table.
 * The synthesis kernels read pnts at every block: between the call and the
 * last block every element must point at a filled table, never NULL. */
SYNTHTAB_API extern double *pnts[5];

SYNTHTAB_API extern const double dewin[512];

SYNTHTAB_API extern double decwin[512 + 32];

#ifdef __cplusplus
}
#endif

#endif /* SYNTHTAB_TABINIT_H */
