"""Constants that the training scripts share with the C++ runtime in dsp/bleed/.

One place for the numbers both sides must agree on; the C++ suite parses the `NAME = value` lines
of this file (tests/dsp/bleed/RuntimeConstantsTest.cpp) and compares them with the runtime's own
constants, so keep every value a plain literal on one line (no expressions, no imports).
"""

# Sample rate the models are trained at and the runtime falls back to (Hz).
SAMPLE_RATE_HZ = 48000

# The filter-head network: a new set of FIR taps every NETWORK_HOP samples from the last
# NETWORK_INPUT samples of the mono mix.
NETWORK_HOP = 32
NETWORK_INPUT = 512

# The two model shapes (hidden width of both GRU layers, FIR taps) and their file names.
FULL_MODEL_WIDTH = 96
FULL_MODEL_TAPS = 256
FULL_MODEL_FILE = "big_base_s1.bin"
ECO_MODEL_WIDTH = 64
ECO_MODEL_TAPS = 192
ECO_MODEL_FILE = "gig_eco_v2.bin"

# The spectral bleed stage: analysis every SPECTRAL_HOP samples over SPECTRAL_FFT samples
# (Hann window), a minimum-phase FIR of SPECTRAL_FIR_TAPS taps crossfaded in over SPECTRAL_HOP.
SPECTRAL_HOP = 128
SPECTRAL_FFT = 1024
SPECTRAL_FIR_TAPS = 512

# A bin that lost MASK_RANGE_DB against the level-matched mix is at the floor (mask 0).
MASK_RANGE_DB = 1.5
# The level match between mix and clean estimate is clamped to 0..LEVEL_MATCH_MAX.
LEVEL_MATCH_MAX = 64.0

# Floors at full Bleed Reduction (dB): outside phrases (deep), inside phrases (shallow), and the
# phrase gate's depth.
DEEP_FLOOR_DB = -45.0
SHALLOW_FLOOR_DB = -7.0
GATE_DEPTH_DB = -12.0

# Floor-curve corners with the high-pass off (Hz): deep floor up to the low corner, shallow floor
# from the high corner, log-interpolated in between; the low corner is the high one / 1.6.
FLOOR_CORNER_LOW_HZ = 78.125
FLOOR_CORNER_HIGH_HZ = 125.0

# The vocal-active rule of the evaluation: a 20 ms frame is vocal-active when its vocal energy is
# above VOCAL_ACTIVE_RATIO (-40 dB) of the loudest vocal frame.
VOCAL_ACTIVE_FRAME_SECONDS = 0.02
VOCAL_ACTIVE_RATIO = 1e-4
