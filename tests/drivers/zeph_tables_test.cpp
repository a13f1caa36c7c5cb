// The ZEPH vocabulary, written out as text, against the tables.
#include <gtest/gtest.h>

#include "drivers/zeph/zeph_tables.h"
#include "command_set_check.h"

namespace linkbay {
namespace {

const table_check::FamilyText kZephText = {
    {
        "SHOW 9/2", "SET 8/2", "CLEAR 1/2", "DISABLE 3/2", "ENABLE 4/2", "START 10/3",
        "STOP 11/3", "LIST 6/2", "TERMINAL 12/3", "COMPUTER 2/2", "RESET 7/3", "INITIALIZE 5/3",
    },
    {
        "LIVE 17/3", "TRUE 37/3", "STATUS 34/2", "SEGMENT 30/3", "DEVICE 9/3", "ACTIVE 1/2",
        "GAIN 13/3", "WINDOW 41/3", "PEAK 21/2", "INTEGRAL 16/3", "SHAPING 31/3", "MODE 19/2",
        "DATE 8/4", "TIME 36/2", "WIDTH 40/3", "HV 14/2", "VERSION 39/1", "ROI 29/2", "NEXT 20/3",
        "RADIX 26/2", "REMOTE 27/2", "PRESETS 23/2", "COUNTER 4/3", "CONFIGURATION 5/3",
        "DATA 7/4", "ADC 2/2", "FEATURES 12/3", "SNUM 33/2", "ALL 3/3", "LLD 18/2", "ULD 38/2",
        "PUR 24/2", "PZADJUST 25/2", "SHUTDOWN 32/4", "CRM 6/2", "THRESHOLD 35/3", "INPUT 15/3",
        "DTC 11/3", "DISCRIMINATOR 10/3", "REVISION 28/3", "POWER 22/3",
    },
    {
        "PRESET 20/2", "START 24/3", "COARSE 6/3", "PHA 16/3", "FINE 9/3", "MASK 11/3",
        "ADJUSTMENT 1/3", "CHANNEL 5/2", "AUTOMATIC 2/2", "CONVERSION 7/3", "STABILIZATION 23/4",
        "DEVICES 8/3", "UART 26/3", "GAUSS 10/2", "POINT 18/2", "WIDTH 27/2", "BINARY 4/2",
        "NEGATIVE 13/3", "POSITIVE 19/3", "POLARITY 17/3", "BATTERY 3/2", "REJECT 21/3",
        "ACTUAL 28/3", "TARGET 29/3", "MCS 12/3", "KELDA 15/3", "TTL 25/3", "OFF 14/3",
        "ROUTE 22/3",
    },
    {
        {0, 0}, {1, 1}, {1, 12}, {0, 23}, {1, 31}, {0, 59}, {0, 99}, {5000, 15000}, {0, 4095},
        {0, 4096}, {0, 65535}, {0, 2147483647}, {0, 196602000}, {2, 1000}, {128, 4096},
        {-3000, 3000}, {-65535, 65535}, {0, 2499}, {2, 60}, {0, 4}, {0, 2},
    },
    {
        "SET_DEVICE | 29 | 1: 1..1", "SET_SEGMENT | 53 | 1: 1..1",
        "SET_GAIN_COARSE | 31 | 1: 2..1000", "SET_GAIN_FINE | 33 | 1: 5000..15000",
        "SET_LIVE_PRESET | 44 | 1: 0..196602000", "SET_TRUE_PRESET | 63 | 1: 0..196602000",
        "SET_INTEGRAL_PRESET | 42 | 1: 0..196602000", "SET_GAIN_CHANNEL | 30 | 1: 0..4095",
        "SET_GAIN_PRESET | 36 | 1: 0..2147483647", "SET_GAIN_WIDTH | 37 | 1: 0..4096",
        "SET_GAIN_ADJUSTMENT | 30 | 1: -65535..65535", "SET_MODE_GAUSS | 46 | -",
        "SET_MODE_POINT | 49 | -", "SET_WINDOW | 66 | 0 to 2: 0..4095, 0..4096",
        "SET_ROI | 52 | 2: 0..4095, 0..4096", "SET_MODE_PHA | 47 | -", "SET_MODE_MCS | 48 | -",
        "SET_GAIN_CONVERSION | 32 | 1: 128..4096", "SET_RADIX_BINARY | 51 | -",
        "SET_DATE | 27 | 3: 1..31, 1..12, 0..99", "SET_TIME | 60 | 3: 0..23, 0..59, 0..59",
        "SET_SHAPING | 54 | 1: 0..4095", "SET_GAIN_NEGATIVE | 34 | -",
        "SET_GAIN_POSITIVE | 35 | -", "SET_HV_NEGATIVE | 39 | -", "SET_HV_POSITIVE | 40 | -",
        "SET_HV | 38 | 1: -3000..3000", "SET_LLD | 45 | 1: 0..4095", "SET_ULD | 64 | 1: 0..4095",
        "SET_WIDTH_REJECT | 65 | 1: 0..4095", "SET_PZADJUST | 50 | 1: 0..2499",
        "SET_SHUTDOWN | 55 | 1: 0..2", "SET_SHUTDOWN_OFF | 56 | -", "SET_SHUTDOWN_KELDA | 57 | -",
        "SET_SHUTDOWN_TTL | 58 | -", "SET_THRESHOLD | 59 | 1: 2..60",
        "SET_INPUT_ROUTE | 41 | 1: 0..4",
    },
    {
        "SHOW_LIVE | 95 | -", "SHOW_TRUE | 119 | -", "SHOW_STATUS | 114 | -",
        "SHOW_DEVICE | 75 | -", "SHOW_SEGMENT | 110 | -", "SHOW_ACTIVE | 67 | -",
        "SHOW_ACTIVE_DEVICES | 68 | -", "SHOW_GAIN_STABILIZATION | 86 | -",
        "SHOW_LIVE_PRESET | 96 | -", "SHOW_TRUE_PRESET | 120 | -", "SHOW_DATE_START | 74 | -",
        "SHOW_TIME_START | 118 | -", "SHOW_SHAPING | 111 | -",
        "SHOW_INTEGRAL | 93 | 0 to 2: 0..4095, 0..4096", "SHOW_INTEGRAL_PRESET | 94 | -",
        "SHOW_WINDOW | 124 | -", "SHOW_VERSION | 122 | -", "SHOW_HV | 88 | -",
        "SHOW_HV_ACTUAL | 89 | -", "SHOW_HV_TARGET | 91 | -", "SHOW_HV_POLARITY | 90 | -",
        "SHOW_CONFIGURATION | 69 | -", "SHOW_GAIN_COARSE | 81 | -", "SHOW_GAIN_FINE | 83 | -",
        "SHOW_GAIN_CONVERSION | 82 | -", "SHOW_GAIN_POLARITY | 84 | -",
        "SHOW_GAIN_PRESET | 85 | -", "SHOW_GAIN_CHANNEL | 80 | -", "SHOW_GAIN_WIDTH | 87 | -",
        "SHOW_GAIN_ADJUSTMENT | 79 | -", "SHOW_NEXT | 100 | -", "SHOW_ROI | 109 | -",
        "SHOW_FEATURES | 78 | -", "SHOW_REMOTE | 107 | -", "SHOW_DATE | 73 | -",
        "SHOW_TIME | 117 | -", "SHOW_MODE | 98 | -", "SHOW_MODE_STABILIZATION | 99 | -",
        "SHOW_CONFIGURATION_UART | 71 | -", "SHOW_CONFIGURATION_MASK | 70 | -",
        "SHOW_SNUM | 113 | -", "SHOW_RADIX | 106 | -", "SHOW_LLD | 97 | -", "SHOW_ULD | 121 | -",
        "SHOW_STATUS_BATTERY | 115 | -", "SHOW_PUR | 105 | -", "SHOW_WIDTH_REJECT | 123 | -",
        "SHOW_PZADJUST | 103 | -", "SHOW_SHUTDOWN | 112 | -", "SHOW_CRM | 72 | -",
        "SHOW_THRESHOLD | 116 | -", "SHOW_INPUT_ROUTE | 92 | -", "SHOW_DTC | 76 | -",
        "SHOW_DISCRIMINATOR | 77 | -", "SHOW_REVISION | 108 | -", "SHOW_POWER | 102 | -",
    },
    {
        "START | 125 | 0 to 1: 0..65535", "STOP | 127 | 0 to 1: 0..65535", "CLEAR | 1 | -",
        "CLEAR_DATA | 4 | -", "CLEAR_ROI | 6 | -", "CLEAR_PRESETS | 5 | -", "CLEAR_ALL | 2 | -",
        "CLEAR_COUNTER | 3 | -", "COMPUTER | 7 | -", "ENABLE_GAIN_STABILIZATION | 13 | -",
        "ENABLE_HV | 14 | -", "ENABLE_REMOTE | 17 | -", "ENABLE_PUR | 15 | -",
        "DISABLE_GAIN_STABILIZATION | 8 | -", "DISABLE_HV | 9 | -", "DISABLE_REMOTE | 12 | -",
        "DISABLE_PUR | 10 | -", "LIST_GAIN_COARSE | 21 | -", "LIST_GAIN_CONVERSION | 22 | -",
        "LIST_GAIN_FINE | 23 | -", "LIST_GAIN_ADJUSTMENT | 20 | -", "LIST_SHUTDOWN | 24 | -",
        "INITIALIZE_GAIN_STABILIZATION | 19 | -", "TERMINAL | 128 | -", "RESET | 25 | -",
        "INITIALIZE | 18 | -", "RESET_REMOTE | 26 | -",
    },
    {12, 41, 29, 21, 37, 56, 27},
};

TEST(ZephCommandSet, MatchesTheTextRowForRow) {
    table_check::ExpectMatchesText(kZephCommandSet, kZephText);
}

}  // namespace
}  // namespace linkbay
