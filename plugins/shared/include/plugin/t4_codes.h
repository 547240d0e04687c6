// The facsimile code tables: ITU-T T.4 run-length codes and T.6 mode codes.
//
// Data only, shared by the CCITT decoder (which builds its lookup tables from
// them) and the TIFF writer's encoders. Each code is given by its bits,
// right-aligned in `bits` (the first bit sent is bit length-1), and its length.
//
//   kWhiteTerminating[n], kBlackTerminating[n]   run length n, 0 <= n <= 63
//   kWhiteMakeUp[k], kBlackMakeUp[k]             run length (k + 1) * 64, 64 ... 1728
//   kExtendedMakeUp[k]                           run length 1792 + k * 64, 1792 ... 2560,
//                                                the same for both colours
//   kEndOfLine                                   000000000001 (12 bits)
//
// A run is coded as make-up codes (largest first, 2560 repeated as often as
// needed for runs above 2560) followed by exactly one terminating code, which
// may be the code for 0. Every row starts with a white run, possibly of length 0.
//
// T.6 (two-dimensional) modes: pass, horizontal (followed by two runs coded as
// above, the current colour first), and the vertical codes kVertical[d + 3]
// for a1 = b1 + d, d = -3 ... +3. The end of a T.6 block is two EOL codes.
#pragma once

#include <cstdint>

namespace t4 {

struct Code {
  uint16_t bits;    // right-aligned code bits
  uint8_t length;   // number of bits, 1 ... 13
};

inline constexpr int kTerminatingCount = 64;     // run lengths 0 ... 63
inline constexpr int kMakeUpCount = 27;          // run lengths 64 ... 1728
inline constexpr int kExtendedMakeUpCount = 13;  // run lengths 1792 ... 2560
inline constexpr int kMakeUpStep = 64;
inline constexpr int kLargestMakeUp = 2560;

inline constexpr Code kWhiteTerminating[kTerminatingCount] = {
    {0b00110101, 8}, {0b000111, 6},   {0b0111, 4},     {0b1000, 4},     // 0-3
    {0b1011, 4},     {0b1100, 4},     {0b1110, 4},     {0b1111, 4},     // 4-7
    {0b10011, 5},    {0b10100, 5},    {0b00111, 5},    {0b01000, 5},    // 8-11
    {0b001000, 6},   {0b000011, 6},   {0b110100, 6},   {0b110101, 6},   // 12-15
    {0b101010, 6},   {0b101011, 6},   {0b0100111, 7},  {0b0001100, 7},  // 16-19
    {0b0001000, 7},  {0b0010111, 7},  {0b0000011, 7},  {0b0000100, 7},  // 20-23
    {0b0101000, 7},  {0b0101011, 7},  {0b0010011, 7},  {0b0100100, 7},  // 24-27
    {0b0011000, 7},  {0b00000010, 8}, {0b00000011, 8}, {0b00011010, 8}, // 28-31
    {0b00011011, 8}, {0b00010010, 8}, {0b00010011, 8}, {0b00010100, 8}, // 32-35
    {0b00010101, 8}, {0b00010110, 8}, {0b00010111, 8}, {0b00101000, 8}, // 36-39
    {0b00101001, 8}, {0b00101010, 8}, {0b00101011, 8}, {0b00101100, 8}, // 40-43
    {0b00101101, 8}, {0b00000100, 8}, {0b00000101, 8}, {0b00001010, 8}, // 44-47
    {0b00001011, 8}, {0b01010010, 8}, {0b01010011, 8}, {0b01010100, 8}, // 48-51
    {0b01010101, 8}, {0b00100100, 8}, {0b00100101, 8}, {0b01011000, 8}, // 52-55
    {0b01011001, 8}, {0b01011010, 8}, {0b01011011, 8}, {0b01001010, 8}, // 56-59
    {0b01001011, 8}, {0b00110010, 8}, {0b00110011, 8}, {0b00110100, 8}, // 60-63
};

inline constexpr Code kWhiteMakeUp[kMakeUpCount] = {
    {0b11011, 5},     {0b10010, 5},     {0b010111, 6},    {0b0110111, 7},    // 64-256
    {0b00110110, 8},  {0b00110111, 8},  {0b01100100, 8},  {0b01100101, 8},   // 320-512
    {0b01101000, 8},  {0b01100111, 8},  {0b011001100, 9}, {0b011001101, 9},  // 576-768
    {0b011010010, 9}, {0b011010011, 9}, {0b011010100, 9}, {0b011010101, 9},  // 832-1024
    {0b011010110, 9}, {0b011010111, 9}, {0b011011000, 9}, {0b011011001, 9},  // 1088-1280
    {0b011011010, 9}, {0b011011011, 9}, {0b010011000, 9}, {0b010011001, 9},  // 1344-1536
    {0b010011010, 9}, {0b011000, 6},    {0b010011011, 9},                    // 1600-1728
};

inline constexpr Code kBlackTerminating[kTerminatingCount] = {
    {0b0000110111, 10},   {0b010, 3},           {0b11, 2},            {0b10, 2},            // 0-3
    {0b011, 3},           {0b0011, 4},          {0b0010, 4},          {0b00011, 5},         // 4-7
    {0b000101, 6},        {0b000100, 6},        {0b0000100, 7},       {0b0000101, 7},       // 8-11
    {0b0000111, 7},       {0b00000100, 8},      {0b00000111, 8},      {0b000011000, 9},     // 12-15
    {0b0000010111, 10},   {0b0000011000, 10},   {0b0000001000, 10},   {0b00001100111, 11},  // 16-19
    {0b00001101000, 11},  {0b00001101100, 11},  {0b00000110111, 11},  {0b00000101000, 11},  // 20-23
    {0b00000010111, 11},  {0b00000011000, 11},  {0b000011001010, 12}, {0b000011001011, 12}, // 24-27
    {0b000011001100, 12}, {0b000011001101, 12}, {0b000001101000, 12}, {0b000001101001, 12}, // 28-31
    {0b000001101010, 12}, {0b000001101011, 12}, {0b000011010010, 12}, {0b000011010011, 12}, // 32-35
    {0b000011010100, 12}, {0b000011010101, 12}, {0b000011010110, 12}, {0b000011010111, 12}, // 36-39
    {0b000001101100, 12}, {0b000001101101, 12}, {0b000011011010, 12}, {0b000011011011, 12}, // 40-43
    {0b000001010100, 12}, {0b000001010101, 12}, {0b000001010110, 12}, {0b000001010111, 12}, // 44-47
    {0b000001100100, 12}, {0b000001100101, 12}, {0b000001010010, 12}, {0b000001010011, 12}, // 48-51
    {0b000000100100, 12}, {0b000000110111, 12}, {0b000000111000, 12}, {0b000000100111, 12}, // 52-55
    {0b000000101000, 12}, {0b000001011000, 12}, {0b000001011001, 12}, {0b000000101011, 12}, // 56-59
    {0b000000101100, 12}, {0b000001011010, 12}, {0b000001100110, 12}, {0b000001100111, 12}, // 60-63
};

inline constexpr Code kBlackMakeUp[kMakeUpCount] = {
    {0b0000001111, 10},    {0b000011001000, 12},  {0b000011001001, 12},  // 64-192
    {0b000001011011, 12},  {0b000000110011, 12},  {0b000000110100, 12},  // 256-384
    {0b000000110101, 12},  {0b0000001101100, 13}, {0b0000001101101, 13}, // 448-576
    {0b0000001001010, 13}, {0b0000001001011, 13}, {0b0000001001100, 13}, // 640-768
    {0b0000001001101, 13}, {0b0000001110010, 13}, {0b0000001110011, 13}, // 832-960
    {0b0000001110100, 13}, {0b0000001110101, 13}, {0b0000001110110, 13}, // 1024-1152
    {0b0000001110111, 13}, {0b0000001010010, 13}, {0b0000001010011, 13}, // 1216-1344
    {0b0000001010100, 13}, {0b0000001010101, 13}, {0b0000001011010, 13}, // 1408-1536
    {0b0000001011011, 13}, {0b0000001100100, 13}, {0b0000001100101, 13}, // 1600-1728
};

inline constexpr Code kExtendedMakeUp[kExtendedMakeUpCount] = {
    {0b00000001000, 11},  {0b00000001100, 11},  {0b00000001101, 11},   // 1792-1920
    {0b000000010010, 12}, {0b000000010011, 12}, {0b000000010100, 12},  // 1984-2112
    {0b000000010101, 12}, {0b000000010110, 12}, {0b000000010111, 12},  // 2176-2304
    {0b000000011100, 12}, {0b000000011101, 12}, {0b000000011110, 12},  // 2368-2496
    {0b000000011111, 12},                                              // 2560
};

inline constexpr Code kEndOfLine = {0b000000000001, 12};

// T.6 mode codes.
inline constexpr Code kPass = {0b0001, 4};
inline constexpr Code kHorizontal = {0b001, 3};
inline constexpr int kMaxVerticalOffset = 3;
inline constexpr Code kVertical[2 * kMaxVerticalOffset + 1] = {
    {0b0000010, 7},  // VL3: a1 = b1 - 3
    {0b000010, 6},   // VL2
    {0b010, 3},      // VL1
    {0b1, 1},        // V0:  a1 = b1
    {0b011, 3},      // VR1
    {0b000011, 6},   // VR2
    {0b0000011, 7},  // VR3: a1 = b1 + 3
};

// The start of the T.6 extension codes (uncompressed mode and others), 7 bits.
inline constexpr Code kExtension = {0b0000001, 7};

}  // namespace t4
