// The integer filterbank's window sums and outputs in Thumb-2
// assembly for ARMv7-M and ARMv8-M Mainline (Cortex-M3/M4/M7/M33): the
// portable kernel's sums (fixed_kernel.h), 64-bit smlal accumulates, four
// history values loaded by one ldm and serving outputs j and 32 - j against
// the window rows j and 32 - j interleaved (kV7mWin), four of those a load.
// Elsewhere this file is empty.
#include "fixed_kernel.h"

#if defined(SYNTHTAB_FIXED_V7M)
// synthtab_fixed_window_v7m(pairs, run, sums, single): sums[j] = the window
// sum of output j; pairs and single are kV7mWin's from column t, run the
// history rows.
__asm__(R"(
  .syntax unified
  .section .text.synthtab_fixed_window_v7m,"ax",%progbits
  .align 2
  .global synthtab_fixed_window_v7m
  .hidden synthtab_fixed_window_v7m
  .thumb
  .thumb_func
  .type synthtab_fixed_window_v7m, %function
.macro SYNTHTAB_MAC first, lo, hi, x, w   @ hi:lo = x w, or += x w
  .ifc \first,1
  smull \lo, \hi, \x, \w
  .else
  smlal \lo, \hi, \x, \w
  .endif
.endm
.macro SYNTHTAB_PAIR4 first=0       @ four history values, rows j (r4:r5) and 32 - j (r6:r7)
  ldm r1!, {r8, r9, r10, r11}
  ldm r0!, {r2, r3, r12, lr}
  SYNTHTAB_MAC \first, r4, r5, r8, r2
  SYNTHTAB_MAC \first, r6, r7, r8, r3
  smlal r4, r5, r9, r12
  smlal r6, r7, r9, lr
  ldm r0!, {r2, r3, r12, lr}
  smlal r4, r5, r10, r2
  smlal r6, r7, r10, r3
  smlal r4, r5, r11, r12
  smlal r6, r7, r11, lr
.endm
.macro SYNTHTAB_SINGLE4 first=0     @ four history values, one row (r7) into r4:r5
  ldm r1!, {r8, r9, r10, r11}
  ldm r7!, {r2, r3, r12, lr}
  SYNTHTAB_MAC \first, r4, r5, r8, r2
  smlal r4, r5, r9, r3
  smlal r4, r5, r10, r12
  smlal r4, r5, r11, lr
.endm
@ Unrolled: 16 values a row, four at a time; [sp] holds sums, [sp, #4] single.
synthtab_fixed_window_v7m:
  push {r2, r3, r4, r5, r6, r7, r8, r9, r10, r11, lr}
  sub sp, #4                       @ 8-byte alignment
  ldr r7, [sp, #8]                 @ output 0: row 0
  SYNTHTAB_SINGLE4 1
  .rept 3
  SYNTHTAB_SINGLE4
  .endr
  ldr r2, [sp, #4]
  strd r4, r5, [r2]
  .set synthtab_j, 1
  .rept 15                         @ outputs j and 32 - j, history row j
  SYNTHTAB_PAIR4 1
  .rept 3
  SYNTHTAB_PAIR4
  .endr
  ldr r2, [sp, #4]
  strd r4, r5, [r2, #synthtab_j*8]
  strd r6, r7, [r2, #(32-synthtab_j)*8]
  adds r0, r0, #128                @ the next pair of rows
  .set synthtab_j, synthtab_j+1
  .endr
  ldr r7, [sp, #8]                 @ output 16: row 16
  adds r7, r7, #128
  SYNTHTAB_SINGLE4 1
  .rept 3
  SYNTHTAB_SINGLE4
  .endr
  ldr r2, [sp, #4]
  strd r4, r5, [r2, #128]
  add sp, #12
  pop {r4, r5, r6, r7, r8, r9, r10, r11, pc}
  .size synthtab_fixed_window_v7m, .-synthtab_fixed_window_v7m
  .purgem SYNTHTAB_MAC
  .purgem SYNTHTAB_PAIR4
  .purgem SYNTHTAB_SINGLE4
)");

// synthtab_fixed_put16_v7m(sums, out, stride): put() of fixed_kernel.h for
// the 32 window sums to 16 bits, out[j * stride]; returns how many clipped.
// A sum rounds as (hi:lo - (hi < 0)) + 2^38 >> 39, its top word alone
// carrying what matters, and ssat clips; an output it changed is counted.
// synthtab_fixed_put32_v7m(sums, out, stride): the same to 32 bits. A sum
// rounds as hi:lo + 2^22 - (hi < 0) >> 23, one 64-bit add; it fits when its
// top word fits 23 bits (the result's top 23 bits, sign-extended, are that
// word), else becomes INT32_MAX or INT32_MIN by its sign.
// An output in range branches over the count (and the clip): only a clipped
// one runs them.
// Strides 1 and 2 (1 at 32 bits) take immediate offsets, unrolled; others a
// pointer step, in a loop.
__asm__(R"(
  .syntax unified
.macro SYNTHTAB_FUNC name
  .section .text.\name,"ax",%progbits
  .align 2
  .global \name
  .hidden \name
  .thumb
  .thumb_func
  .type \name, %function
.endm
.macro SYNTHTAB_STORE str, lo, at    @ to [r1, #at], or to [r1] and a step of r2
  .ifc \at,step
  \str \lo, [r1]
  add r1, r1, r2
  .else
  \str \lo, [r1, #\at]
  .endif
.endm
.macro SYNTHTAB_PUT16 lo, hi, at     @ output from hi:lo, r3 counting those clipped
  adds \lo, \lo, \hi, asr #31
  adc \hi, \hi, \hi, asr #31
  add \hi, \hi, #64
  ssat \lo, #16, \hi, asr #7
  cmp \lo, \hi, asr #7
  beq 8f
  add r3, r3, #1
8:
  SYNTHTAB_STORE strh, \lo, \at
.endm
.macro SYNTHTAB_PUT32 lo, hi, at     @ output from hi:lo, r3 counting those clipped
  add r12, lr, \hi, asr #31
  adds \lo, \lo, r12
  adc \hi, \hi, #0
  lsrs \lo, \lo, #23
  orr \lo, \lo, \hi, lsl #9
  cmp \hi, \lo, asr #9             @ the top word fits 23 bits
  beq 8f
  mvn \lo, #0x80000000
  eor \lo, \lo, \hi, asr #31
  add r3, r3, #1
8:
  SYNTHTAB_STORE str, \lo, \at
.endm
.macro SYNTHTAB_PUTS put, step       @ the 32 outputs, step bytes apart, unrolled
  .set synthtab_j, 0
  .rept 16
  ldm r0!, {r4, r5, r6, r7}
  \put r4, r5, synthtab_j*\step
  \put r6, r7, (synthtab_j+1)*\step
  .set synthtab_j, synthtab_j + 2
  .endr
.endm
.macro SYNTHTAB_PUTS_LOOP put, scale @ the 32 outputs, r2 << scale bytes apart
  lsls r2, r2, #\scale
  mov r8, #16                      @ two outputs a pass
9:
  ldm r0!, {r4, r5, r6, r7}
  \put r4, r5, step
  \put r6, r7, step
  subs r8, r8, #1
  bne 9b
.endm

SYNTHTAB_FUNC synthtab_fixed_put16_v7m
synthtab_fixed_put16_v7m:
  push {r4, r5, r6, r7, r8, lr}
  movs r3, #0                      @ the outputs clipped
  cmp r2, #1
  beq 1f
  cmp r2, #2
  beq 2f
  SYNTHTAB_PUTS_LOOP SYNTHTAB_PUT16, 1
  b 3f
1:
  SYNTHTAB_PUTS SYNTHTAB_PUT16, 2
  b 3f
2:
  SYNTHTAB_PUTS SYNTHTAB_PUT16, 4
3:
  mov r0, r3
  pop {r4, r5, r6, r7, r8, pc}
  .size synthtab_fixed_put16_v7m, .-synthtab_fixed_put16_v7m

SYNTHTAB_FUNC synthtab_fixed_put32_v7m
synthtab_fixed_put32_v7m:
  push {r4, r5, r6, r7, r8, lr}
  movs r3, #0                      @ the outputs clipped
  mov lr, #0x400000                @ 2^22, the rounding
  cmp r2, #1
  beq 1f
  SYNTHTAB_PUTS_LOOP SYNTHTAB_PUT32, 2
  b 2f
1:
  SYNTHTAB_PUTS SYNTHTAB_PUT32, 4
2:
  mov r0, r3
  pop {r4, r5, r6, r7, r8, pc}
  .size synthtab_fixed_put32_v7m, .-synthtab_fixed_put32_v7m
  .purgem SYNTHTAB_FUNC
  .purgem SYNTHTAB_STORE
  .purgem SYNTHTAB_PUT16
  .purgem SYNTHTAB_PUT32
  .purgem SYNTHTAB_PUTS
  .purgem SYNTHTAB_PUTS_LOOP
)");
#endif
