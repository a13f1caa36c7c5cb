// The KORV vocabulary, written out as text, against the tables.
#include <gtest/gtest.h>

#include "drivers/korv/korv_tables.h"
#include "command_set_check.h"

namespace linkbay {
namespace {

const table_check::FamilyText kKorvText = {
    {
        "SHOW 8/2", "SET 7/2", "CLEAR 1/2", "DISABLE 3/2", "ENABLE 4/2", "START 9/3", "STOP 10/3",
        "LIST 5/2", "TERMINAL 11/3", "COMPUTER 2/2", "RESET 6/3", "INITIALIZE 12/3",
    },
    {
        "LIVE 14/3", "TRUE 29/3", "STATUS 27/2", "SEGMENT 24/3", "DEVICE 9/3", "ACTIVE 1/2",
        "GAIN 11/3", "WINDOW 33/3", "PEAK 18/2", "INTEGRAL 13/3", "SHAPING 25/3", "MODE 16/2",
        "DATE 8/4", "TIME 28/2", "WIDTH 32/3", "HV 12/2", "VERSION 31/1", "ROI 23/2", "NEXT 17/3",
        "RADIX 21/2", "REMOTE 22/2", "PRESETS 19/2", "COUNTER 5/3", "CONFIGURATION 6/3",
        "DATA 7/4", "ADC 2/2", "FEATURES 10/3", "SNUM 26/2", "ALL 3/3", "LLD 15/2", "ULD 30/2",
        "BLRE 4/2", "PUR 20/2",
    },
    {
        "PRESET 13/2", "START 15/3", "COARSE 4/3", "PHA 10/3", "FINE 7/3", "MASK 8/3",
        "AUTOMATIC 1/2", "CONVERSION 5/3", "DEVICES 6/3", "UART 16/3", "BINARY 3/2",
        "NEGATIVE 9/3", "POSITIVE 12/3", "POLARITY 11/3", "BATTERY 2/2", "REJECT 14/3",
        "ACTUAL 18/3", "TARGET 19/3",
    },
    {
        {0, 0}, {1, 1}, {1, 12}, {0, 23}, {1, 31}, {0, 59}, {0, 99}, {0, 4095}, {0, 4095},
        {0, 4096}, {0, 65535}, {0, 2147483647}, {0, 196602000}, {1, 64}, {256, 4096},
        {-5000, 5000},
    },
    {
        "SET_DEVICE | 23 | 1: 1..1", "SET_SEGMENT | 41 | 1: 1..1",
        "SET_GAIN_COARSE | 24 | 1: 1..64", "SET_GAIN_FINE | 26 | 1: 0..4095",
        "SET_LIVE_PRESET | 35 | 1: 0..196602000", "SET_TRUE_PRESET | 46 | 1: 0..196602000",
        "SET_INTEGRAL_PRESET | 33 | 1: 0..196602000",
        "SET_WINDOW | 49 | 0 to 2: 0..4095, 0..4096", "SET_ROI | 40 | 2: 0..4095, 0..4096",
        "SET_MODE_PHA | 37 | -", "SET_GAIN_CONVERSION | 25 | 1: 256..4096",
        "SET_RADIX_BINARY | 39 | -", "SET_DATE | 22 | 3: 1..31, 1..12, 0..99",
        "SET_TIME | 43 | 3: 0..23, 0..59, 0..59", "SET_SHAPING | 42 | 1: 0..4095",
        "SET_GAIN_NEGATIVE | 27 | -", "SET_GAIN_POSITIVE | 28 | -", "SET_HV_NEGATIVE | 31 | -",
        "SET_HV_POSITIVE | 32 | -", "SET_HV | 30 | 1: -5000..5000", "SET_LLD | 36 | 1: 0..4095",
        "SET_ULD | 47 | 1: 0..4095", "SET_BLRE | 21 | 1: 0..4095",
        "SET_WIDTH_REJECT | 48 | 1: 0..4095",
    },
    {
        "SHOW_LIVE | 71 | -", "SHOW_TRUE | 88 | -", "SHOW_STATUS | 84 | -",
        "SHOW_DEVICE | 59 | -", "SHOW_SEGMENT | 81 | -", "SHOW_ACTIVE | 50 | -",
        "SHOW_ACTIVE_DEVICES | 51 | -", "SHOW_LIVE_PRESET | 72 | -", "SHOW_TRUE_PRESET | 89 | -",
        "SHOW_DATE_START | 58 | -", "SHOW_TIME_START | 87 | -", "SHOW_SHAPING | 82 | -",
        "SHOW_INTEGRAL | 69 | 0 to 2: 0..4095, 0..4096", "SHOW_INTEGRAL_PRESET | 70 | -",
        "SHOW_WINDOW | 93 | -", "SHOW_VERSION | 91 | -", "SHOW_HV | 65 | -",
        "SHOW_HV_ACTUAL | 66 | -", "SHOW_HV_TARGET | 68 | -", "SHOW_HV_POLARITY | 67 | -",
        "SHOW_CONFIGURATION | 54 | -", "SHOW_GAIN_COARSE | 61 | -", "SHOW_GAIN_FINE | 63 | -",
        "SHOW_GAIN_CONVERSION | 62 | -", "SHOW_GAIN_POLARITY | 64 | -", "SHOW_NEXT | 75 | -",
        "SHOW_ROI | 80 | -", "SHOW_FEATURES | 60 | -", "SHOW_DATE | 57 | -", "SHOW_TIME | 86 | -",
        "SHOW_MODE | 74 | -", "SHOW_CONFIGURATION_UART | 56 | -",
        "SHOW_CONFIGURATION_MASK | 55 | -", "SHOW_SNUM | 83 | -", "SHOW_RADIX | 78 | -",
        "SHOW_LLD | 73 | -", "SHOW_ULD | 90 | -", "SHOW_STATUS_BATTERY | 85 | -",
        "SHOW_BLRE | 52 | -", "SHOW_BLRE_AUTOMATIC | 53 | -", "SHOW_PUR | 77 | -",
        "SHOW_WIDTH_REJECT | 92 | -",
    },
    {
        "START | 94 | 0 to 1: 0..65535", "STOP | 95 | 0 to 1: 0..65535", "CLEAR | 1 | -",
        "CLEAR_DATA | 4 | -", "CLEAR_ROI | 6 | -", "CLEAR_PRESETS | 5 | -", "CLEAR_ALL | 2 | -",
        "CLEAR_COUNTER | 3 | -", "COMPUTER | 7 | -", "ENABLE_HV | 13 | -", "ENABLE_PUR | 14 | -",
        "ENABLE_BLRE_AUTOMATIC | 12 | -", "DISABLE_HV | 9 | -", "DISABLE_PUR | 10 | -",
        "DISABLE_BLRE_AUTOMATIC | 8 | -", "LIST_GAIN_COARSE | 16 | -",
        "LIST_GAIN_CONVERSION | 17 | -", "LIST_GAIN_FINE | 18 | -", "RESET | 19 | -",
        "INITIALIZE | 11 | -",
    },
    {12, 33, 18, 16, 24, 42, 20},
};

TEST(KorvCommandSet, MatchesTheTextRowForRow) {
    table_check::ExpectMatchesText(kKorvCommandSet, kKorvText);
}

}  // namespace
}  // namespace linkbay
