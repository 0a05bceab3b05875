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
@ v += xh k, e += xl (k >> 8), u += xl k (op add), or = for the first (op mov)
.macro SYNTHTAB_A s, wp, v, e, u, op=add
  ldr r6, [\wp, #4*\s]
  asrs r7, r6, #8
  muls r7, r4
  \op \e, r7
  movs r3, r4
  muls r3, r6
  \op \u, r3
  muls r6, r5
  \op \v, r6
.endm
.macro SYNTHTAB_B s, wp, v, e, u, op=add   @ the same, last use of xh and xl: no copy
  ldr r6, [\wp, #4*\s]
  asrs r7, r6, #8
  muls r7, r4
  \op \e, r7
  muls r5, r6
  \op \v, r5
  muls r6, r4
  \op \u, r6
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
  SYNTHTAB_X 0
  SYNTHTAB_B 0, r0, r8, r9, r10, mov
  .irp s, 1,2,3,4,5,6,7,8,9,10,11,12,13,14,15
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
  SYNTHTAB_X 0
  SYNTHTAB_A 0, r0, r8, r9, r10, mov
  SYNTHTAB_B 0, r1, r11, r12, lr, mov
  .irp s, 1,2,3,4,5,6,7,8,9,10,11,12,13,14,15
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
  .purgem SYNTHTAB_T
  .purgem SYNTHTAB_ONE

@ synthtab_fixed_rest_thumb1(rest, run, sums, t): sums[j] += d x for every
@ entry of kThumb1.rest (fixed_kernel.h), those with d = 1 first.
  .section .text.synthtab_fixed_rest_thumb1,"ax",%progbits
  .align 1
  .global synthtab_fixed_rest_thumb1
  .hidden synthtab_fixed_rest_thumb1
  .thumb_func
  .type synthtab_fixed_rest_thumb1, %function
.macro SYNTHTAB_D op, opc          @ sums[j] op= x of the next entry
  ldm r0!, {r4, r5, r6}            @ 4 c, 64 h, 8 j
  subs r4, r4, r3
  lsls r4, r4, #26
  lsrs r4, r4, #26                 @ 4 ((c - t) & 15)
  adds r4, r4, r5
  ldr r4, [r1, r4]                 @ x
  adds r6, r6, r2
  asrs r5, r4, #31
  ldr r7, [r6]
  \op r7, r7, r4
  str r7, [r6]
  ldr r7, [r6, #4]
  \opc r7, r5
  str r7, [r6, #4]
.endm
synthtab_fixed_rest_thumb1:
  push {r4, r5, r6, r7, lr}
  lsls r3, r3, #2
  ldm r0!, {r4, r5}                @ the bytes of the entries with d = 1, d = -1
  adds r4, r4, r0
  mov r12, r4
  adds r4, r4, r5
  mov lr, r4
  cmp r0, r12
  beq 2f
1:
  SYNTHTAB_D adds, adcs
  cmp r0, r12
  bne 1b
2:
  cmp r0, lr
  beq 3f
4:
  SYNTHTAB_D subs, sbcs
  cmp r0, lr
  bne 4b
3:
  pop {r4, r5, r6, r7, pc}
  .purgem SYNTHTAB_D
  .size synthtab_fixed_rest_thumb1, .-synthtab_fixed_rest_thumb1
)");
#endif
