// The integer filterbank's window sums in Thumb-2 assembly for ARMv7-M and
// ARMv8-M Mainline (Cortex-M3/M4/M7/M33): the portable kernel's sums
// (fixed_kernel.h), 64-bit smlal accumulates, with three history values and
// three window values loaded by one ldm each and the history values serving
// outputs j and 32 - j. Elsewhere this file is empty.
#include "fixed_kernel.h"

#if defined(SYNTHTAB_FIXED_V7M)
// synthtab_fixed_window_v7m(w, run, sums): sums[j] = the window sum of output
// j, w being synthtab_fixed_tab.win from column t, run the history rows.
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
.macro SYNTHTAB_G3 two, first=0     @ three values of row r0 (r4:r5), and of row r3 (r6:r7)
  ldm r1!, {r8, r9, r10}
  ldm r0!, {r11, r12, lr}
  SYNTHTAB_MAC \first, r4, r5, r8, r11
  smlal r4, r5, r9, r12
  smlal r4, r5, r10, lr
  .ifc \two,1
  ldm r3!, {r11, r12, lr}
  SYNTHTAB_MAC \first, r6, r7, r8, r11
  smlal r6, r7, r9, r12
  smlal r6, r7, r10, lr
  .endif
.endm
.macro SYNTHTAB_ROW two             @ 16 values: 5 x 3 + 1
  SYNTHTAB_G3 \two, 1
  .rept 4
  SYNTHTAB_G3 \two
  .endr
  ldr r8, [r1], #4
  ldr r11, [r0], #4
  smlal r4, r5, r8, r11
  .ifc \two,1
  ldr r11, [r3], #4
  smlal r6, r7, r8, r11
  .endif
.endm
@ Frame: [sp] where output 32 - j goes, [sp, #4] the end of history rows 1..15.
synthtab_fixed_window_v7m:
  push {r4, r5, r6, r7, r8, r9, r10, r11, lr}
  sub sp, #12
  add r3, r0, #3968                @ window row 31
  add r4, r2, #248
  str r4, [sp]
  add r4, r1, #1024
  str r4, [sp, #4]
  SYNTHTAB_ROW 0                   @ output 0: row 0
  strd r4, r5, [r2], #8
  adds r0, r0, #64
1:                                 @ outputs j and 32 - j: rows j and 32 - j, history row j
  SYNTHTAB_ROW 1
  strd r4, r5, [r2], #8
  ldr lr, [sp]
  strd r6, r7, [lr], #-8
  str lr, [sp]
  adds r0, r0, #64
  subs r3, r3, #192
  ldr lr, [sp, #4]
  cmp r1, lr
  bne 1b
  SYNTHTAB_ROW 0                   @ output 16: row 16
  strd r4, r5, [r2]
  add sp, #12
  pop {r4, r5, r6, r7, r8, r9, r10, r11, pc}
  .size synthtab_fixed_window_v7m, .-synthtab_fixed_window_v7m
  .purgem SYNTHTAB_MAC
  .purgem SYNTHTAB_G3
  .purgem SYNTHTAB_ROW
)");
#endif
