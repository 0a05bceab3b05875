#!/usr/bin/env python3
"""Draws docs/filterbank.png: the synthesis window and the frequency response
of a few subbands of the analysis filterbank.

Reads the window from data/synthesis-window.txt; needs numpy and matplotlib
(Debian: python3-matplotlib). Run by hand after the window data changes:

    python3 docs/filterbank.py
"""
import os

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, "..", "data", "synthesis-window.txt")
OUT = os.path.join(HERE, "filterbank.png")
RATE = 44100  # for the frequency axis only

# D[i], i = 0..511, as printed.
d = np.zeros(512)
for line in open(DATA):
    if line.strip() and not line.startswith("#"):
        i, v = line.split()
        d[int(i)] = float(v)

n = np.arange(512)
# Every second block of 64 taps is stored negated; undone, the window is one
# smooth low-pass, the prototype every subband filter is a cosine shift of.
prototype = d * np.where((n // 64) % 2, -1, 1)

# Subband k's analysis filter, from the analysis itself: tap n of the 512
# newest samples (n = 0 the newest) is weighted by
# C[n] cos((2k + 1)((n mod 64) - 16) pi / 64), C = D / 32.
def band(k):
    return d / 32 * np.cos((2 * k + 1) * ((n % 64) - 16) * np.pi / 64)

fig, (top, bottom) = plt.subplots(2, 1, figsize=(9, 7.5), constrained_layout=True)

top.plot(n, d, color="0.65", lw=1, label="D[i] as tabulated (every 2nd block of 64 negated)")
top.plot(n, prototype, color="C0", lw=1.8, label="the same with those signs undone: the prototype")
for b in range(64, 512, 64):
    top.axvline(b, color="0.85", lw=0.8, zorder=0)
top.set_xlim(0, 511)
top.set_xticks(range(0, 513, 64))
top.set_xlabel("tap i")
top.set_ylabel("D[i]")
top.set_title("The 512-tap synthesis window (the analysis uses D / 32)")
top.legend(loc="lower left", fontsize=9, frameon=False)

nfft = 1 << 16
freq = np.arange(nfft // 2 + 1) * RATE / nfft / 1000
peak = np.abs(np.fft.rfft(band(0), nfft)).max()
for k, color in zip((0, 1, 7, 15, 31), ("C0", "C1", "C2", "C3", "C4")):
    h = np.abs(np.fft.rfft(band(k), nfft))
    db = 20 * np.log10(np.maximum(h / peak, 1e-12))
    bottom.plot(freq, db, color=color, lw=0.9, label=f"subband {k}")
for k in range(1, 32):
    bottom.axvline(k * RATE / 64 / 1000, color="0.9", lw=0.6, zorder=0)
bottom.set_xlim(0, RATE / 2000)
bottom.set_ylim(-130, 8)
bottom.set_xlabel(f"frequency (kHz) at {RATE} Hz; grid lines are the 32 band edges")
bottom.set_ylabel("gain (dB)")
bottom.set_title("Frequency response of five subbands of the analysis filterbank")
bottom.legend(loc="center", bbox_to_anchor=(0.74, 0.55), fontsize=9, ncol=2, framealpha=1)
bottom.annotate("the floor, about -110 dB: the window's\nvalues are whole multiples of 1/65536",
                xy=(15.5, -105), xytext=(12.3, -88), fontsize=9,
                arrowprops=dict(arrowstyle="->", color="0.3"))

fig.savefig(OUT, dpi=100)
print("wrote", OUT)
