// The range table, row by row, against the published values typed out here
// on their own (not read from the table's source).
#include "ranges/RangeSpecTable.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

std::uint32_t bitsOf(float f) {
    std::uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

struct ExpectedRow {
    int probeClass, fluxUnit, range;
    float fullScale, overRange, upRange, downRange;
    std::uint32_t resolutionBits;
    int decimals;
    const char* reportFormat;
    const char* unitLabel;
    const char* rangeLabel;
    std::uint32_t displayScaleBits, unitScaleBits;
    const char* valueFormat;
    const char* perDivisionFormat;
};

// class, unit, range, full scale, over range, up range, down range,
// resolution bits, decimals, report format, unit label, range label,
// display scale bits, unit scale bits, value format, per-division format.
const ExpectedRow kExpected[] = {
    {0, 0, 3, 1.0f, 1.1f, 100.0f, 0.0f, 0x3727C5AC, 5, "%1.5f", "G", "1G", 0x3F800000, 0x3F800000, "%1.5f", "%1.2fG/div"},
    {0, 1, 3, 1.0f, 1.1f, 100.0f, 0.0f, 0x3727C5AC, 3, "%01.9f", "\xB5" "T", "100\xB5" "T", 0x42C7FFFF, 0x38D1B717, "%3.3f", "%3.2f\xB5" "T/div"},
    {0, 2, 3, 1.0f, 1.1f, 100.0f, 0.0f, 0x3727C5AC, 5, "%1.5f", "Oe", "1 Oe", 0x3F800000, 0x3F800000, "%1.5f", "%1.2fOe/div"},
    {0, 3, 3, 1.0f, 1.1f, 100.0f, 0.0f, 0x3727C5AC, 3, "%01.7f", "A/m", "80A/m", 0x429F28F6, 0x429F28F6, "%3.3f", "%3.2fA/m/div"},
    {1, 0, 0, 0.3f, 0.33f, 0.27f, 0.0f, 0x358637BD, 3, "%0.6f", "mG", "300mG", 0x447A0000, 0x3F800000, "%3.3f", "%3.2fmG/div"},
    {1, 0, 1, 3.0f, 3.3f, 100.0f, 0.24f, 0x3727C5AC, 5, "%01.5f", "G", "3G", 0x3F800000, 0x3F800000, "%1.5f", "%1.2fG/div"},
    {1, 1, 0, 0.3f, 0.33f, 0.27f, 0.0f, 0x358637BD, 4, "%01.11f", "\xB5" "T", "30\xB5" "T", 0x42C7FFFF, 0x38D1B717, "%2.4f", "%2.2f\xB5" "T/div"},
    {1, 1, 1, 3.0f, 3.3f, 100.0f, 0.24f, 0x3727C5AC, 3, "%01.11f", "\xB5" "T", "300\xB5" "T", 0x42C7FFFF, 0x38D1B717, "%3.3f", "%3.2f\xB5" "T/div"},
    {1, 2, 0, 0.3f, 0.33f, 0.27f, 0.0f, 0x358637BD, 3, "%0.6f", "mOe", "300mOe", 0x447A0000, 0x3F800000, "%3.3f", "%3.2fmOe/div"},
    {1, 2, 1, 3.0f, 3.3f, 100.0f, 0.24f, 0x3727C5AC, 5, "%01.5f", "Oe", "3 Oe", 0x3F800000, 0x3F800000, "%1.5f", "%1.2fOe/div"},
    {1, 3, 0, 0.3f, 0.33f, 0.27f, 0.0f, 0x358637BD, 4, "%01.7f", "A/m", "24A/m", 0x429F28F6, 0x429F28F6, "%2.4f", "%2.2fA/m/div"},
    {1, 3, 1, 3.0f, 3.3f, 100.0f, 0.24f, 0x3727C5AC, 3, "%05.1f", "A/m", "238A/m", 0x429F28F6, 0x429F28F6, "%3.3f", "%3.2fA/m/div"},
    {2, 0, 0, 3.0f, 3.3f, 2.7f, 0.0f, 0x3727C5AC, 5, "%01.5f", "G", "3G", 0x3F800000, 0x3F800000, "%1.5f", "%1.2fG/div"},
    {2, 0, 1, 30.0f, 33.0f, 27.0f, 2.4f, 0x38D1B717, 4, "%02.4f", "G", "30G", 0x3F800000, 0x3F800000, "%2.4f", "%2.2fG/div"},
    {2, 0, 2, 300.0f, 330.0f, 270.0f, 24.0f, 0x3A83126F, 3, "%03.3f", "G", "300G", 0x3F800000, 0x3F800000, "%3.3f", "%3.2fG/div"},
    {2, 0, 3, 3000.0f, 3300.0f, 100000.0f, 240.0f, 0x3C23D70A, 5, "%04.2f", "kG", "3kG", 0x3A83126F, 0x3F800000, "%1.5f", "%1.2fkG/div"},
    {2, 1, 0, 3.0f, 3.3f, 2.7f, 0.0f, 0x3727C5AC, 3, "%01.9f", "\xB5" "T", "300\xB5" "T", 0x42C7FFFF, 0x38D1B717, "%3.3f", "%3.2f\xB5" "T/div"},
    {2, 1, 1, 30.0f, 33.0f, 27.0f, 2.4f, 0x38D1B717, 5, "%01.8f", "mT", "3mT", 0x3DCCCCCC, 0x38D1B717, "%1.5f", "%1.2fmT/div"},
    {2, 1, 2, 300.0f, 330.0f, 270.0f, 24.0f, 0x3A83126F, 4, "%01.7f", "mT", "30mT", 0x3DCCCCCC, 0x38D1B717, "%2.4f", "%2.2fmT/div"},
    {2, 1, 3, 3000.0f, 3300.0f, 100000.0f, 240.0f, 0x3C23D70A, 3, "%01.6f", "mT", "300mT", 0x3DCCCCCC, 0x38D1B717, "%3.3f", "%3.2fmT/div"},
    {2, 2, 0, 3.0f, 3.3f, 2.7f, 0.0f, 0x3727C5AC, 5, "%01.5f", "Oe", "3 Oe", 0x3F800000, 0x3F800000, "%1.5f", "%1.2fOe/div"},
    {2, 2, 1, 30.0f, 33.0f, 27.0f, 2.4f, 0x38D1B717, 4, "%02.4f", "Oe", "30 Oe", 0x3F800000, 0x3F800000, "%2.4f", "%2.2fOe/div"},
    {2, 2, 2, 300.0f, 330.0f, 270.0f, 24.0f, 0x3A83126F, 3, "%03.3f", "Oe", "300 Oe", 0x3F800000, 0x3F800000, "%3.3f", "%3.2fOe/div"},
    {2, 2, 3, 3000.0f, 3300.0f, 100000.0f, 240.0f, 0x3C23D70A, 5, "%04.2f", "kOe", "3kOe", 0x3A83126F, 0x3F800000, "%1.5f", "%1.2fkOe/div"},
    {2, 3, 0, 3.0f, 3.3f, 2.7f, 0.0f, 0x3727C5AC, 3, "%03.3f", "A/m", "238A/m", 0x429F28F6, 0x429F28F6, "%3.3f", "%3.2fA/m/div"},
    {2, 3, 1, 30.0f, 33.0f, 27.0f, 2.4f, 0x38D1B717, 5, "%04.2f", "kA/m", "2.4kA/m", 0x3DA2FAD8, 0x429F28F6, "%1.5f", "%1.2fkA/m/div"},
    {2, 3, 2, 300.0f, 330.0f, 270.0f, 24.0f, 0x3A83126F, 4, "%05.1f", "kA/m", "23.8kA/m", 0x3DA2FAD8, 0x429F28F6, "%2.4f", "%2.2fkA/m/div"},
    {2, 3, 3, 3000.0f, 3300.0f, 100000.0f, 240.0f, 0x3C23D70A, 3, "%06.0f", "kA/m", "238kA/m", 0x3DA2FAD8, 0x429F28F6, "%3.3f", "%3.2fkA/m/div"},
    {3, 0, 0, 30.0f, 33.0f, 27.0f, 0.0f, 0x38D1B717, 4, "%02.4f", "G", "30G", 0x3F800000, 0x3F800000, "%2.4f", "%2.2fG/div"},
    {3, 0, 1, 300.0f, 330.0f, 270.0f, 24.0f, 0x3A83126F, 3, "%03.3f", "G", "300G", 0x3F800000, 0x3F800000, "%3.3f", "%3.2fG/div"},
    {3, 0, 2, 3000.0f, 3300.0f, 2700.0f, 240.0f, 0x3C23D70A, 5, "%04.2f", "kG", "3kG", 0x3A83126F, 0x3F800000, "%1.5f", "%1.2fkG/div"},
    {3, 0, 3, 30000.0f, 33000.0f, 100000.0f, 2400.0f, 0x3DCCCCCD, 4, "%05.1f", "kG", "30kG", 0x3A83126F, 0x3F800000, "%2.4f", "%2.2fkG/div"},
    {3, 1, 0, 30.0f, 33.0f, 27.0f, 0.0f, 0x38D1B717, 5, "%01.8f", "mT", "3mT", 0x3DCCCCCC, 0x38D1B717, "%1.5f", "%1.2fmT/div"},
    {3, 1, 1, 300.0f, 330.0f, 270.0f, 24.0f, 0x3A83126F, 4, "%01.7f", "mT", "30mT", 0x3DCCCCCC, 0x38D1B717, "%2.4f", "%2.2fmT/div"},
    {3, 1, 2, 3000.0f, 3300.0f, 2700.0f, 240.0f, 0x3C23D70A, 3, "%01.6f", "mT", "300mT", 0x3DCCCCCC, 0x38D1B717, "%3.3f", "%3.2fmT/div"},
    {3, 1, 3, 30000.0f, 33000.0f, 100000.0f, 2400.0f, 0x3DCCCCCD, 5, "%01.5f", "T", "3T", 0x38D1B717, 0x38D1B717, "%1.5f", "%1.2fT/div"},
    {3, 2, 0, 30.0f, 33.0f, 27.0f, 0.0f, 0x38D1B717, 4, "%02.4f", "Oe", "30 Oe", 0x3F800000, 0x3F800000, "%2.4f", "%2.2fOe/div"},
    {3, 2, 1, 300.0f, 330.0f, 270.0f, 24.0f, 0x3A83126F, 3, "%03.3f", "Oe", "300 Oe", 0x3F800000, 0x3F800000, "%3.3f", "%3.2fOe/div"},
    {3, 2, 2, 3000.0f, 3300.0f, 2700.0f, 240.0f, 0x3C23D70A, 5, "%04.2f", "kOe", "3kOe", 0x3A83126F, 0x3F800000, "%1.5f", "%1.2fkOe/div"},
    {3, 2, 3, 30000.0f, 33000.0f, 100000.0f, 2400.0f, 0x3DCCCCCD, 4, "%05.1f", "kOe", "30kOe", 0x3A83126F, 0x3F800000, "%2.4f", "%2.2fkOe/div"},
    {3, 3, 0, 30.0f, 33.0f, 27.0f, 0.0f, 0x38D1B717, 5, "%04.2f", "kA/m", "2.4kA/m", 0x3DA2FAD8, 0x429F28F6, "%1.5f", "%1.2fkA/m/div"},
    {3, 3, 1, 300.0f, 330.0f, 270.0f, 24.0f, 0x3A83126F, 4, "%05.1f", "kA/m", "23.8kA/m", 0x3DA2FAD8, 0x429F28F6, "%2.4f", "%2.2fkA/m/div"},
    {3, 3, 2, 3000.0f, 3300.0f, 2700.0f, 240.0f, 0x3C23D70A, 3, "%06.0f", "kA/m", "238kA/m", 0x3DA2FAD8, 0x429F28F6, "%3.3f", "%3.2fkA/m/div"},
    {3, 3, 3, 30000.0f, 33000.0f, 100000.0f, 2400.0f, 0x3DCCCCCD, 5, "%07.0f", "MA/m", "2.4MA/m", 0x38A6E432, 0x429F28F6, "%1.5f", "%1.2fMA/m/div"},
    {4, 0, 0, 300.0f, 330.0f, 270.0f, 0.0f, 0x3A83126F, 3, "%03.3f", "G", "300G", 0x3F800000, 0x3F800000, "%3.3f", "%3.2fG/div"},
    {4, 0, 1, 3000.0f, 3300.0f, 2700.0f, 240.0f, 0x3C23D70A, 5, "%04.2f", "kG", "3kG", 0x3A83126F, 0x3F800000, "%1.5f", "%1.2fkG/div"},
    {4, 0, 2, 30000.0f, 33000.0f, 27000.0f, 2400.0f, 0x3DCCCCCD, 4, "%05.1f", "kG", "30kG", 0x3A83126F, 0x3F800000, "%2.4f", "%2.2fkG/div"},
    {4, 0, 3, 300000.0f, 330000.0f, 1000000.0f, 24000.0f, 0x3F800000, 3, "%06.0f", "kG", "300kG", 0x3A83126F, 0x3F800000, "%3.3f", "%3.2fkG/div"},
    {4, 1, 0, 300.0f, 330.0f, 270.0f, 0.0f, 0x3A83126F, 4, "%01.7f", "mT", "30mT", 0x3DCCCCCC, 0x38D1B717, "%2.4f", "%2.2fmT/div"},
    {4, 1, 1, 3000.0f, 3300.0f, 2700.0f, 240.0f, 0x3C23D70A, 3, "%01.6f", "mT", "300mT", 0x3DCCCCCC, 0x38D1B717, "%3.3f", "%3.2fmT/div"},
    {4, 1, 2, 30000.0f, 33000.0f, 27000.0f, 2400.0f, 0x3DCCCCCD, 5, "%01.5f", "T", "3T", 0x38D1B717, 0x38D1B717, "%1.5f", "%1.2fT/div"},
    {4, 1, 3, 300000.0f, 330000.0f, 1000000.0f, 24000.0f, 0x3F800000, 4, "%02.4f", "T", "30T", 0x38D1B717, 0x38D1B717, "%2.4f", "%2.2fT/div"},
    {4, 2, 0, 300.0f, 330.0f, 270.0f, 0.0f, 0x3A83126F, 3, "%03.3f", "Oe", "300 Oe", 0x3F800000, 0x3F800000, "%3.3f", "%3.2fOe/div"},
    {4, 2, 1, 3000.0f, 3300.0f, 2700.0f, 240.0f, 0x3C23D70A, 5, "%04.2f", "kOe", "3kOe", 0x3A83126F, 0x3F800000, "%1.5f", "%1.2fkOe/div"},
    {4, 2, 2, 30000.0f, 33000.0f, 27000.0f, 2400.0f, 0x3DCCCCCD, 4, "%05.1f", "kOe", "30kOe", 0x3A83126F, 0x3F800000, "%2.4f", "%2.2fkOe/div"},
    {4, 2, 3, 300000.0f, 330000.0f, 1000000.0f, 24000.0f, 0x3F800000, 3, "%06.0f", "kOe", "300kOe", 0x3A83126F, 0x3F800000, "%3.3f", "%3.2fkOe/div"},
    {4, 3, 0, 300.0f, 330.0f, 270.0f, 0.0f, 0x3A83126F, 4, "%05.1f", "kA/m", "23.8kA/m", 0x3DA2FAD8, 0x429F28F6, "%2.4f", "%2.2fkA/m/div"},
    {4, 3, 1, 3000.0f, 3300.0f, 2700.0f, 240.0f, 0x3C23D70A, 3, "%06.0f", "kA/m", "238kA/m", 0x3DA2FAD8, 0x429F28F6, "%3.3f", "%3.2fkA/m/div"},
    {4, 3, 2, 30000.0f, 33000.0f, 27000.0f, 2400.0f, 0x3DCCCCCD, 5, "%07.0f", "MA/m", "2.4MA/m", 0x38A6E432, 0x429F28F6, "%1.5f", "%1.2fMA/m/div"},
    {4, 3, 3, 300000.0f, 330000.0f, 1000000.0f, 24000.0f, 0x3F800000, 4, "%08.0f", "MA/m", "24MA/m", 0x38A6E432, 0x429F28F6, "%2.4f", "%2.2fMA/m/div"},
    {5, 0, 0, 3000.0f, 3300.0f, 2700.0f, 0.0f, 0x3C23D70A, 5, "%04.2f", "kG", "3kG", 0x3A83126F, 0x3F800000, "%1.5f", "%1.2fkG/div"},
    {6, 0, 0, 3000.0f, 3300.0f, 2700.0f, 0.0f, 0x3C23D70A, 5, "%04.2f", "kG", "3kG", 0x3A83126F, 0x3F800000, "%1.5f", "%1.2fkG/div"},
    {5, 0, 1, 30000.0f, 33000.0f, 27000.0f, 2400.0f, 0x3DCCCCCD, 4, "%05.1f", "kG", "30kG", 0x3A83126F, 0x3F800000, "%2.4f", "%2.2fkG/div"},
    {6, 0, 1, 30000.0f, 33000.0f, 27000.0f, 2400.0f, 0x3DCCCCCD, 4, "%05.1f", "kG", "30kG", 0x3A83126F, 0x3F800000, "%2.4f", "%2.2fkG/div"},
    {5, 0, 2, 300000.0f, 330000.0f, 270000.0f, 24000.0f, 0x3F800000, 3, "%06.0f", "kG", "300kG", 0x3A83126F, 0x3F800000, "%3.3f", "%3.2fkG/div"},
    {6, 0, 2, 300000.0f, 330000.0f, 270000.0f, 24000.0f, 0x3F800000, 3, "%06.0f", "kG", "300kG", 0x3A83126F, 0x3F800000, "%3.3f", "%3.2fkG/div"},
    {5, 0, 3, 3000000.0f, 3300000.0f, 10000000.0f, 240000.0f, 0x41200000, 5, "%07.0f", "MG", "3MG", 0x358637BD, 0x3F800000, "%1.5f", "%1.2fMG/div"},
    {6, 0, 3, 3000000.0f, 3300000.0f, 10000000.0f, 240000.0f, 0x41200000, 5, "%07.0f", "MG", "3MG", 0x358637BD, 0x3F800000, "%1.5f", "%1.2fMG/div"},
    {5, 1, 0, 3000.0f, 3300.0f, 2700.0f, 0.0f, 0x3C23D70A, 3, "%01.6f", "mT", "300mT", 0x3DCCCCCC, 0x38D1B717, "%3.3f", "%3.2fmT/div"},
    {6, 1, 0, 3000.0f, 3300.0f, 2700.0f, 0.0f, 0x3C23D70A, 3, "%01.6f", "mT", "300mT", 0x3DCCCCCC, 0x38D1B717, "%3.3f", "%3.2fmT/div"},
    {5, 1, 1, 30000.0f, 33000.0f, 27000.0f, 2400.0f, 0x3DCCCCCD, 5, "%01.5f", "T", "3T", 0x38D1B717, 0x38D1B717, "%1.5f", "%1.2fT/div"},
    {6, 1, 1, 30000.0f, 33000.0f, 27000.0f, 2400.0f, 0x3DCCCCCD, 5, "%01.5f", "T", "3T", 0x38D1B717, 0x38D1B717, "%1.5f", "%1.2fT/div"},
    {5, 1, 2, 300000.0f, 330000.0f, 270000.0f, 24000.0f, 0x3F800000, 4, "%02.4f", "T", "30T", 0x38D1B717, 0x38D1B717, "%2.4f", "%2.2fT/div"},
    {6, 1, 2, 300000.0f, 330000.0f, 270000.0f, 24000.0f, 0x3F800000, 4, "%02.4f", "T", "30T", 0x38D1B717, 0x38D1B717, "%2.4f", "%2.2fT/div"},
    {5, 1, 3, 3000000.0f, 3300000.0f, 10000000.0f, 240000.0f, 0x41200000, 3, "%03.3f", "T", "300T", 0x38D1B717, 0x38D1B717, "%3.3f", "%3.2fT/div"},
    {6, 1, 3, 3000000.0f, 3300000.0f, 10000000.0f, 240000.0f, 0x41200000, 3, "%03.3f", "T", "300T", 0x38D1B717, 0x38D1B717, "%3.3f", "%3.2fT/div"},
    {5, 2, 0, 3000.0f, 3300.0f, 2700.0f, 0.0f, 0x3C23D70A, 5, "%04.2f", "kOe", "3kOe", 0x3A83126F, 0x3F800000, "%1.5f", "%1.2fkOe/div"},
    {6, 2, 0, 3000.0f, 3300.0f, 2700.0f, 0.0f, 0x3C23D70A, 5, "%04.2f", "kOe", "3kOe", 0x3A83126F, 0x3F800000, "%1.5f", "%1.2fkOe/div"},
    {5, 2, 1, 30000.0f, 33000.0f, 27000.0f, 2400.0f, 0x3DCCCCCD, 4, "%05.1f", "kOe", "30kOe", 0x3A83126F, 0x3F800000, "%2.4f", "%2.2fkOe/div"},
    {6, 2, 1, 30000.0f, 33000.0f, 27000.0f, 2400.0f, 0x3DCCCCCD, 4, "%05.1f", "kOe", "30kOe", 0x3A83126F, 0x3F800000, "%2.4f", "%2.2fkOe/div"},
    {5, 2, 2, 300000.0f, 330000.0f, 270000.0f, 24000.0f, 0x3F800000, 3, "%06.0f", "kOe", "300kOe", 0x3A83126F, 0x3F800000, "%3.3f", "%3.2fkOe/div"},
    {6, 2, 2, 300000.0f, 330000.0f, 270000.0f, 24000.0f, 0x3F800000, 3, "%06.0f", "kOe", "300kOe", 0x3A83126F, 0x3F800000, "%3.3f", "%3.2fkOe/div"},
    {5, 2, 3, 3000000.0f, 3300000.0f, 10000000.0f, 240000.0f, 0x41200000, 5, "%07.0f", "MOe", "3MOe", 0x358637BD, 0x3F800000, "%1.5f", "%1.2fMOe/div"},
    {6, 2, 3, 3000000.0f, 3300000.0f, 10000000.0f, 240000.0f, 0x41200000, 5, "%07.0f", "MOe", "3MOe", 0x358637BD, 0x3F800000, "%1.5f", "%1.2fMOe/div"},
    {5, 3, 0, 3000.0f, 3300.0f, 2700.0f, 0.0f, 0x3C23D70A, 3, "%06.0f", "kA/m", "238kA/m", 0x3DA2FAD8, 0x429F28F6, "%3.3f", "%3.2fkA/m/div"},
    {6, 3, 0, 3000.0f, 3300.0f, 2700.0f, 0.0f, 0x3C23D70A, 3, "%06.0f", "kA/m", "238kA/m", 0x3DA2FAD8, 0x429F28F6, "%3.3f", "%3.2fkA/m/div"},
    {5, 3, 1, 30000.0f, 33000.0f, 27000.0f, 2400.0f, 0x3DCCCCCD, 5, "%07.0f", "MA/m", "2.4MA/m", 0x38A6E432, 0x429F28F6, "%1.5f", "%1.2fMA/m/div"},
    {6, 3, 1, 30000.0f, 33000.0f, 27000.0f, 2400.0f, 0x3DCCCCCD, 5, "%07.0f", "MA/m", "2.4MA/m", 0x38A6E432, 0x429F28F6, "%1.5f", "%1.2fMA/m/div"},
    {5, 3, 2, 300000.0f, 330000.0f, 270000.0f, 24000.0f, 0x3F800000, 4, "%08.0f", "MA/m", "24MA/m", 0x38A6E432, 0x429F28F6, "%2.4f", "%2.2fMA/m/div"},
    {6, 3, 2, 300000.0f, 330000.0f, 270000.0f, 24000.0f, 0x3F800000, 4, "%08.0f", "MA/m", "24MA/m", 0x38A6E432, 0x429F28F6, "%2.4f", "%2.2fMA/m/div"},
    {5, 3, 3, 3000000.0f, 3300000.0f, 10000000.0f, 240000.0f, 0x41200000, 3, "%09.0f", "MA/m", "238MA/m", 0x38A6E432, 0x429F28F6, "%3.3f", "%3.2fMA/m/div"},
    {6, 3, 3, 3000000.0f, 3300000.0f, 10000000.0f, 240000.0f, 0x41200000, 3, "%09.0f", "MA/m", "238MA/m", 0x38A6E432, 0x429F28F6, "%3.3f", "%3.2fMA/m/div"},
};

std::string describe(const ExpectedRow& e) {
    return "class " + std::to_string(e.probeClass) + " unit " + std::to_string(e.fluxUnit) +
           " range " + std::to_string(e.range);
}

TEST(RangeSpecTable, EveryRowMatchesThePublishedValues) {
    const RangeSpecTable* table = RangeSpecTable::instance();
    for (const ExpectedRow& e : kExpected) {
        SCOPED_TRACE(describe(e));
        const RangeSpec* r = table->lookup(e.range, e.fluxUnit, e.probeClass);
        ASSERT_NE(r, nullptr);
        ASSERT_TRUE(r->isValid());
        EXPECT_EQ(bitsOf(r->getFullScale()), bitsOf(e.fullScale));
        EXPECT_EQ(bitsOf(r->getOverRangeLimit()), bitsOf(e.overRange));
        EXPECT_EQ(bitsOf(r->getUpRangeThreshold()), bitsOf(e.upRange));
        EXPECT_EQ(bitsOf(r->getDownRangeThreshold()), bitsOf(e.downRange));
        EXPECT_EQ(bitsOf(r->getResolution()), e.resolutionBits);
        EXPECT_EQ(r->getDecimals(), e.decimals);
        EXPECT_EQ(r->getReportFormat(), e.reportFormat);
        EXPECT_EQ(r->getUnitName(), e.unitLabel);
        EXPECT_EQ(r->getRangeName(), e.rangeLabel);
        EXPECT_EQ(bitsOf(r->getDisplayScale()), e.displayScaleBits);
        EXPECT_EQ(bitsOf(r->getUnitScale()), e.unitScaleBits);
        EXPECT_EQ(r->getValueFormat(), e.valueFormat);
        EXPECT_EQ(r->getPerDivisionFormat(), e.perDivisionFormat);
    }
}

TEST(RangeSpecTable, KeysWithoutARowGiveTheDefaultRecord) {
    const RangeSpecTable* table = RangeSpecTable::instance();
    std::set<std::vector<int>> withRow;
    for (const ExpectedRow& e : kExpected) withRow.insert({e.probeClass, e.fluxUnit, e.range});
    EXPECT_EQ(withRow.size(), 92u);   // 76 rows, the 16 of 100X seen again as 1000X

    int defaults = 0;
    for (int c = -1; c <= 7; ++c)
        for (int u = -1; u <= 4; ++u)
            for (int r = -1; r <= 5; ++r) {
                if (withRow.count({c, u, r})) continue;
                SCOPED_TRACE("class " + std::to_string(c) + " unit " + std::to_string(u) +
                             " range " + std::to_string(r));
                const RangeSpec* d = table->lookup(r, u, c);
                ASSERT_EQ(d, table->getDefault());
                ++defaults;
            }
    EXPECT_GT(defaults, 0);

    const RangeSpec* d = table->getDefault();
    EXPECT_FALSE(d->isValid());
    EXPECT_EQ(d->getRangeName(), "invalid");
    EXPECT_EQ(d->getUnitName(), "invalid");
    EXPECT_EQ(d->getValueFormat(), "%f");
    EXPECT_EQ(d->getReportFormat(), "%f");
    EXPECT_EQ(d->getPerDivisionFormat(), "");
    EXPECT_EQ(d->getFullScale(), 0.0f);
    EXPECT_EQ(d->getOverRangeLimit(), 0.0f);
    EXPECT_EQ(d->getUpRangeThreshold(), 0.0f);
    EXPECT_EQ(d->getDownRangeThreshold(), 0.0f);
    EXPECT_EQ(d->getResolution(), 0.0f);
    EXPECT_EQ(d->getDisplayScale(), 1.0f);
    EXPECT_EQ(d->getUnitScale(), 1.0f);
    EXPECT_EQ(d->getDecimals(), 0);
}

TEST(RangeSpecTable, ClassesFiveAndSixShareTheirRecords) {
    const RangeSpecTable* table = RangeSpecTable::instance();
    for (int u = 0; u < 4; ++u)
        for (int r = 0; r < 4; ++r) EXPECT_EQ(table->lookup(r, u, 5), table->lookup(r, u, 6));
    EXPECT_NE(table->lookup(0, 0, 4), table->lookup(0, 0, 5));
}

TEST(RangeSpecTable, RangeNames) {
    const RangeSpecTable* table = RangeSpecTable::instance();
    using Names = std::vector<std::string>;
    EXPECT_EQ(table->getRangeNames(0, 3), (Names{"30G", "300G", "3kG", "30kG"}));
    EXPECT_EQ(table->getRangeNames(1, 1), (Names{"30\xB5" "T", "300\xB5" "T", "invalid", "invalid"}));
    EXPECT_EQ(table->getRangeNames(2, 0), (Names{"invalid", "invalid", "invalid", "1 Oe"}));
    EXPECT_EQ(table->getRangeNames(9, 3), (Names(4, "invalid")));
    EXPECT_EQ(table->getRangeNames(0, -1), (Names(4, "invalid")));
}

// The micro sign is one ISO-8859-1 byte, not the two bytes of UTF-8.
TEST(RangeSpecTable, MicroSignIsOneLatin1Byte) {
    const std::string unit = RangeSpecTable::instance()->lookup(0, 1, 1)->getUnitName();
    ASSERT_EQ(unit.size(), 2u);
    EXPECT_EQ(static_cast<unsigned char>(unit[0]), 0xB5);
    EXPECT_EQ(unit[1], 'T');
}

// Each shown over-range limit takes six digits, which is what the six-digit
// editor holds; the 0.001X A/m range is the one five-digit exception.
TEST(RangeSpecTable, OverRangeLimitShowsInSixDigits) {
    for (const ExpectedRow& e : kExpected) {
        SCOPED_TRACE(describe(e));
        const RangeSpec* r = RangeSpecTable::instance()->lookup(e.range, e.fluxUnit, e.probeClass);
        char text[64];
        std::snprintf(text, sizeof text, r->getValueFormat().c_str(),
                      static_cast<double>(r->getOverRangeLimit() * r->getDisplayScale()));
        int digits = 0;
        for (const char* p = text; *p; ++p) digits += (*p >= '0' && *p <= '9');
        EXPECT_EQ(digits, std::string(e.rangeLabel) == "80A/m" ? 5 : 6) << text;
    }
}

// Lookups only read: many threads at once always see the same records.
TEST(RangeSpecTable, ConcurrentLookupsAgree) {
    const RangeSpecTable* table = RangeSpecTable::instance();
    std::vector<std::thread> threads;
    std::vector<int> mismatches(4, 0);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i)
                for (const ExpectedRow& e : kExpected) {
                    const RangeSpec* r = table->lookup(e.range, e.fluxUnit, e.probeClass);
                    if (r->getFullScale() != e.fullScale) ++mismatches[t];
                    if (table->lookup(e.range + 10, e.fluxUnit, e.probeClass) != table->getDefault())
                        ++mismatches[t];
                }
        });
    for (auto& th : threads) th.join();
    for (int m : mismatches) EXPECT_EQ(m, 0);
}

TEST(RangeSpec, FullConstructorBuildsFormatsAndResolution) {
    RangeSpec mt(3.3f, 2.7f, 0.0f, 3.0f, 5, "%01.8f", "mT", "3mT", 0.099999994f, 0.0001f);
    EXPECT_EQ(mt.getValueFormat(), "%1.5f");
    EXPECT_EQ(mt.getPerDivisionFormat(), "%1.2fmT/div");
    EXPECT_TRUE(mt.isValid());

    RangeSpec kg(3300.0f, 2700.0f, 240.0f, 3000.0f, 5, "%04.2f", "kG", "3kG", 0.001f, 1.0f);
    EXPECT_EQ(kg.getResolution(), 0.01f);
    EXPECT_EQ(kg.getPerDivisionFormat(), "%1.2fkG/div");

    RangeSpec g(33.0f, 27.0f, 0.0f, 30.0f, 4, "%02.4f", "G", "30G", 1.0f, 1.0f);
    EXPECT_EQ(g.getResolution(), 0.0001f);
    EXPECT_EQ(g.getValueFormat(), "%2.4f");
    EXPECT_EQ(g.getPerDivisionFormat(), "%2.2fG/div");

    RangeSpec d3(1.0f, 1.0f, 0.0f, 1.0f, 3, "%f", "\xB5" "T", "x", 1.0f, 1.0f);
    EXPECT_EQ(d3.getValueFormat(), "%3.3f");
    EXPECT_EQ(d3.getPerDivisionFormat(), "%3.2f\xB5" "T/div");
}

}  // namespace
