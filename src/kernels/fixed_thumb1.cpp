// The integer filterbank's window sums in Thumb-1 assembly, for ARMv6-M
// (Cortex-M0/M0+) and ARMv8-M Baseline: the scheme of fixed_kernel.h
// (three 32-bit products and adds per window value, no carries), the six
// sums of outputs j and 32 - j in high registers, each history value loaded
// and split once for both. GCC spills most of it when the same is written in
// C. Elsewhere this file is empty.
#include "fixed_kernel.h"

#if defined(SYNTHTAB_FIXED_MUL32)
// synthtab_fixed_window_thumb1(k, run, sums): sums[j] = 2^14 T of output j
// (fixed_kernel.h: V 2^32 + E 2^22 + (U - 2^8 E) 2^14), k being kThumb1.k
// from column t, run the history rows.
__asm__(R"(
  .syntax unified
  .section .text.synthtab_fixed_window_thumb1,"ax",%progbits
  .align 1
  .global synthtab_fixed_window_thumb1
  .hidden synthtab_fixed_window_thumb1
  .thumb
  .thumb_func
  .type synthtab_fixed_window_thumb1, %function
.macro SYNTHTAB_X s                @ r5 = x >> 18, r4 = x & (2^18 - 1)
  ldr r4, [r2, #4*\s]
  asrs r5, r4, #18
  lsls r4, r4, #14
  lsrs r4, r4, #14
.endm
.macro SYNTHTAB_A s, wp, v, e, u   @ v += xh k, e += xl (k >> 8), u += xl k
  ldr r6, [\wp, #4*\s]
  asrs r7, r6, #8
  muls r7, r4
  add \e, r7
  movs r3, r4
  muls r3, r6
  add \u, r3
  muls r6, r5
  add \v, r6
.endm
.macro SYNTHTAB_B s, wp, v, e, u   @ the same, last use of xh and xl: no copy
  ldr r6, [\wp, #4*\s]
  asrs r7, r6, #8
  muls r7, r4
  add \e, r7
  muls r5, r6
  add \v, r5
  muls r6, r4
  add \u, r6
.endm
.macro SYNTHTAB_ZERO
  movs r3, #0
  mov r8, r3
  mov r9, r3
  mov r10, r3
  mov r11, r3
  mov r12, r3
  mov lr, r3
.endm
.macro SYNTHTAB_T v, e, u          @ r0!: lo, hi of 2^14 T from V, E, U; r5 = 0
  mov r1, \e
  mov r2, \u
  lsls r3, r1, #8
  subs r2, r2, r3                  @ rest = U - 2^8 E, in [0, 2^31)
  lsls r3, r1, #22
  lsls r6, r2, #14
  asrs r4, r1, #10
  lsrs r2, r2, #18
  adds r4, r4, r2
  add r4, \v
  adds r3, r3, r6                  @ lo, and its carry into hi
  adcs r4, r5
  stm r0!, {r3, r4}
.endm
.macro SYNTHTAB_ONE                @ window row r0 against history row r2: V, E, U in r8-r10
  SYNTHTAB_ZERO
  .irp s, 0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15
  SYNTHTAB_X \s
  SYNTHTAB_B \s, r0, r8, r9, r10
  .endr
.endm
@ Frame: [sp] sums, [sp, #4] j, [sp, #8] w, [sp, #12] run.
synthtab_fixed_window_thumb1:
  push {r4, r5, r6, r7, lr}
  mov r4, r8
  mov r5, r9
  mov r6, r10
  mov r7, r11
  push {r4, r5, r6, r7}
  sub sp, #16
  str r2, [sp]
  str r0, [sp, #8]
  str r1, [sp, #12]
  mov r2, r1
  SYNTHTAB_ONE                     @ output 0: row 0
  ldr r0, [sp]
  movs r5, #0
  SYNTHTAB_T r8, r9, r10
  movs r3, #1
1:                                 @ outputs j and 32 - j: rows j and 32 - j, history row j
  str r3, [sp, #4]
  ldr r0, [sp, #8]
  lsls r1, r3, #7
  adds r0, r0, r1
  movs r1, #32
  subs r1, r1, r3
  lsls r1, r1, #7
  ldr r2, [sp, #8]
  adds r1, r1, r2
  ldr r2, [sp, #12]
  lsls r3, r3, #6
  adds r2, r2, r3
  SYNTHTAB_ZERO
  .irp s, 0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15
  SYNTHTAB_X \s
  SYNTHTAB_A \s, r0, r8, r9, r10
  SYNTHTAB_B \s, r1, r11, r12, lr
  .endr
  ldr r3, [sp, #4]
  ldr r0, [sp]
  lsls r1, r3, #3
  adds r0, r0, r1
  movs r5, #0
  SYNTHTAB_T r8, r9, r10
  ldr r3, [sp, #4]
  movs r0, #32
  subs r0, r0, r3
  lsls r0, r0, #3
  ldr r1, [sp]
  adds r0, r0, r1
  SYNTHTAB_T r11, r12, lr
  ldr r3, [sp, #4]
  adds r3, r3, #1
  cmp r3, #16
  beq 2f
  b 1b                             @ beyond a conditional branch's reach
2:
  ldr r0, [sp, #8]                 @ output 16: row 16
  movs r1, #128
  lsls r1, r1, #4
  adds r0, r0, r1
  ldr r2, [sp, #12]
  movs r1, #128
  lsls r1, r1, #3
  adds r2, r2, r1
  SYNTHTAB_ONE
  ldr r0, [sp]
  adds r0, #128
  movs r5, #0
  SYNTHTAB_T r8, r9, r10
  add sp, #16
  pop {r4, r5, r6, r7}
  mov r8, r4
  mov r9, r5
  mov r10, r6
  mov r11, r7
  pop {r4, r5, r6, r7, pc}
  .size synthtab_fixed_window_thumb1, .-synthtab_fixed_window_thumb1
  .purgem SYNTHTAB_X
  .purgem SYNTHTAB_A
  .purgem SYNTHTAB_B
  .purgem SYNTHTAB_ZERO
  .purgem SYNTHTAB_T
  .purgem SYNTHTAB_ONE

@ synthtab_fixed_rest_thumb1(rest, run, sums, t): sums[j] += d x for every
@ entry of kThumb1.rest (fixed_kernel.h), up to the 0 that ends them.
  .section .text.synthtab_fixed_rest_thumb1,"ax",%progbits
  .align 1
  .global synthtab_fixed_rest_thumb1
  .hidden synthtab_fixed_rest_thumb1
  .thumb_func
  .type synthtab_fixed_rest_thumb1, %function
synthtab_fixed_rest_thumb1:
  push {r4, r5, r6, r7, lr}
  lsls r3, r3, #2
  ldm r0!, {r4}
  cmp r4, #0
  beq 3f
1:
  subs r5, r4, r3
  lsls r5, r5, #26
  lsrs r5, r5, #26                 @ 4 ((c - t) & 15)
  lsrs r6, r4, #21                 @ 64 h
  adds r5, r5, r6
  ldr r5, [r1, r5]                 @ x
  lsls r6, r4, #17                 @ d = -1?
  bpl 2f
  rsbs r5, r5, #0
2:
  lsls r4, r4, #18
  lsrs r4, r4, #24                 @ 8 j
  adds r4, r4, r2
  asrs r6, r5, #31
  ldr r7, [r4]
  adds r7, r7, r5
  str r7, [r4]
  ldr r7, [r4, #4]
  adcs r7, r6
  str r7, [r4, #4]
  ldm r0!, {r4}
  cmp r4, #0
  bne 1b
3:
  pop {r4, r5, r6, r7, pc}
  .size synthtab_fixed_rest_thumb1, .-synthtab_fixed_rest_thumb1
)");
#endif
