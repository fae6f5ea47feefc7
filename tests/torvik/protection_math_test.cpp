#include "torvik/protection_math.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <optional>
#include <string>

namespace k5::torvik {
namespace {

// Expected values computed outside this code base, by an independent implementation of the
// same double-precision, left-to-right evaluation. The rows with pref 1 are ones where
// reassociating the calcPc expression changes the result by one.
struct Known {
    uint32_t avg, pmax, pc, ip, pref;
    const char* coeff2;
    const char* coeff1;
    uint32_t calcPmax, calcPc, calcIp;
    int32_t p2, p2i, p4;
};

constexpr Known kKnown[] = {
    {760, 500, 250, 36, 900, "1264.64000", "1977.89696", 1520u, 667u, 839u, 540, 792, 197},
    {710, 500, 250, 36, 900, "1210.97600", "1941.31563", 1420u, 639u, 823u, 527, 831, 202},
    {629, 500, 250, 36, 900, "1115.21197", "1858.43606", 1258u, 588u, 788u, 507, 898, 210},
    {0, 500, 250, 36, 900, "0.00000", "0.00000", 0u, 0u, 0u, 0, 0, 0},
    {4095, 500, 250, 36, 900, "-4548.39840", "4748.39148", 8190u, 4294964896u, 2014u, -810, 352,
     235987082},
    {2760, 500, 250, 36, 900, "0.00000", "0.00000", 5520u, 0u, 0u, 0, 0, 0},
    {2761, 500, 250, 36, 900, "-2.29715", "0.00180", 5522u, 4294967295u, 0u, -1081730, 0,
     350006389},
    {550, 1000, 1000, 1000, 1, "1011.29600", "1747.74197", 1980000u, 1921462u, 617920u, 978, 746685,
     873},
    {900, 0, 0, 0, 10000, "1392.76800", "2025.80891", 0u, 0u, 0u, 0, 0, 0},
    {510, 500, 250, 36, 1, "954.72000", "1679.82984", 918000u, 453492u, 21380u, 480, 1002, 222},
    {635, 500, 250, 36, 1, "1122.68000", "1865.61349", 1143000u, 533272u, 23745u, 509, 894, 209},
    {1135, 500, 250, 36, 1, "1534.52000", "1949.99129", 2043000u, 728897u, 24819u, 665, 523, 160},
    {1510, 500, 250, 36, 1, "1570.40000", "1535.06600", 2718000u, 745939u, 19538u, 865, 309, 123},
    {3135, 500, 250, 36, 1, "-978.12000", "286.83369", 5643000u, 4294502690u, 3650u, -2884, 27,
     342464},
    {4010, 1000, 250, 36, 1, "-4170.40000", "4076.56600", 14436000u, 4292986357u, 51886u, -1730,
     309, 267642},
};

TEST(ProtectionMath, KnownResults) {
    for (const Known& k : kKnown) {
        SCOPED_TRACE("avg " + std::to_string(k.avg) + " pref " + std::to_string(k.pref));
        const Coefficients co = CalculateCoefficients(k.avg);
        EXPECT_EQ(FormatFixed5(co.coeff2), k.coeff2);
        EXPECT_EQ(FormatFixed5(co.coeff1), k.coeff1);
        const RegisterFields f = CalculateRegisterFields(k.avg, co, k.pmax, k.pc, k.ip, k.pref);
        EXPECT_EQ(f.calcPmax, k.calcPmax);
        EXPECT_EQ(f.calcPc, k.calcPc);
        EXPECT_EQ(f.calcIp, k.calcIp);
        const OutputFigures o = CalculateOutputFigures(k.avg, co, f, k.pref);
        EXPECT_EQ(o.p2, k.p2);
        EXPECT_EQ(o.p2i, k.p2i);
        EXPECT_EQ(o.p4, k.p4);
    }
}

// Reference by exact rational arithmetic: c = (2760 - a) / 2000 and Coeff2 = 1.664 a c, so
// calcPmax = 18 a pmax / (5 pref) and calcPc = 31616 a (2760 - a) pc / (2e7 pref). Where the
// exact value is a whole number the double evaluation may land just beside it, so one step
// toward zero is accepted there and nowhere else.
struct Rational {
    int64_t num;
    int64_t den;
};

void ExpectTruncOf(const Rational& r, uint32_t actual, const std::string& what) {
    const int64_t whole = r.num / r.den;  // C++ division truncates toward zero, as trunc does
    const auto expected = static_cast<uint32_t>(static_cast<uint64_t>(whole));
    if (r.num % r.den != 0) {
        EXPECT_EQ(actual, expected) << what;
        return;
    }
    const int64_t towardZero = whole > 0 ? whole - 1 : (whole < 0 ? whole + 1 : 0);
    const auto alternative = static_cast<uint32_t>(static_cast<uint64_t>(towardZero));
    EXPECT_TRUE(actual == expected || actual == alternative)
        << what << ": " << actual << " for exact " << whole;
}

// For results involving a square root: long double, with the same allowance close to whole
// numbers.
void ExpectTruncNear(long double exact, int64_t actual, const std::string& what) {
    const long double whole = std::trunc(exact);
    const auto expected = static_cast<int64_t>(whole);
    const long double toNext = std::fabs(exact - whole);
    if (toNext > 1e-9L && toNext < 1.0L - 1e-9L) {
        EXPECT_EQ(actual, expected) << what;
        return;
    }
    EXPECT_LE(std::llabs(actual - static_cast<int64_t>(std::llround(exact))), 1) << what;
}

TEST(ProtectionMath, SweepOfAveragesAgreesWithExactArithmetic) {
    struct Settings {
        uint32_t pmax, pc, ip, pref;
    };
    const Settings sets[] = {{500, 250, 36, 900}, {333, 777, 41, 947}, {1000, 1000, 1000, 450}};
    for (const Settings& s : sets) {
        for (uint32_t avg = 1; avg <= 4095; ++avg) {
            const std::string what =
                "avg " + std::to_string(avg) + " pref " + std::to_string(s.pref);
            const auto a = static_cast<int64_t>(avg);
            const Coefficients co = CalculateCoefficients(avg);
            const RegisterFields f = CalculateRegisterFields(avg, co, s.pmax, s.pc, s.ip, s.pref);
            ExpectTruncOf({18 * a * s.pmax, 5 * int64_t{s.pref}}, f.calcPmax, what + " calcPmax");
            ExpectTruncOf({31616 * a * (2760 - a) * s.pc, 20000000 * int64_t{s.pref}}, f.calcPc,
                          what + " calcPc");

            const long double la = avg;
            const long double c = (2760.0L - la) / 2000.0L;
            const long double coeff2 = la * 1.664L * c;
            const long double coeff1 = 1.564L * coeff2 * c;
            const long double ip = s.ip;
            ExpectTruncNear(std::sqrt(ip * ip / s.pref / 8.0L) * coeff1,
                            static_cast<int32_t>(f.calcIp), what + " calcIp");

            const OutputFigures o = CalculateOutputFigures(avg, co, f, s.pref);
            if (avg != 2760) {
                // P2 = pref calcPmax / (2 Coeff2), with Coeff2 = 1664 a (2760 - a) / 2e6.
                ExpectTruncOf({int64_t{s.pref} * f.calcPmax * 1000000, 1664 * a * (2760 - a)},
                              static_cast<uint32_t>(o.p2), what + " P2");
                const long double q = f.calcIp / coeff2;
                ExpectTruncNear(2.0L * q * q * s.pref, o.p2i, what + " P2I");
            }
            ExpectTruncOf({int64_t{f.calcPc} * s.pref, 4 * a}, static_cast<uint32_t>(o.p4),
                          what + " P4");
        }
    }
}

TEST(ProtectionMath, TruncKeepsLow32BitsAndRefusesWhatDoesNotFit) {
    EXPECT_EQ(TruncToRegister(1519.9999999), 1519u);
    EXPECT_EQ(TruncToRegister(-0.75), 0u);
    EXPECT_EQ(TruncToRegister(-1.5), 0xFFFFFFFFu);
    EXPECT_EQ(TruncToRegister(4294967296.0 + 5.0), 5u);
    EXPECT_EQ(TruncToRegister(-4294967296.0 - 2.0), 0xFFFFFFFEu);
    EXPECT_EQ(TruncToRegister(std::numeric_limits<double>::infinity()), 0u);
    EXPECT_EQ(TruncToRegister(-std::numeric_limits<double>::infinity()), 0u);
    EXPECT_EQ(TruncToRegister(std::numeric_limits<double>::quiet_NaN()), 0u);
    EXPECT_EQ(TruncToRegister(9223372036854775808.0), 0u);
    EXPECT_EQ(TruncToRegister(-9223372036854775808.0), 0u);
    // The largest double below 2^63 still converts: 2^63 - 1024, whose low 32 bits are
    // 0xFFFFFC00.
    EXPECT_EQ(TruncToRegister(std::nextafter(9223372036854775808.0, 0.0)), 0xFFFFFC00u);
}

TEST(ProtectionMath, ZeroReferencePowerGivesZeroFieldsAndFigures) {
    const Coefficients co = CalculateCoefficients(760);
    for (uint32_t ip : {0u, 36u}) {
        const RegisterFields f = CalculateRegisterFields(760, co, 500, 250, ip, 0);
        EXPECT_EQ(f.calcPmax, 0u);
        EXPECT_EQ(f.calcPc, 0u);
        EXPECT_EQ(f.calcIp, 0u);
        const OutputFigures o = CalculateOutputFigures(760, co, f, 0);
        EXPECT_EQ(o.p2, 0);
        EXPECT_EQ(o.p2i, 0);
        EXPECT_EQ(o.p4, 0);
    }
}

TEST(ProtectionMath, AverageRoundsDownAndImbalanceStartsAt60) {
    EXPECT_EQ(AverageConductance(700, 721), 710u);
    EXPECT_EQ(AverageConductance(721, 700), 710u);
    EXPECT_EQ(AverageConductance(4095, 4095), 4095u);
    EXPECT_FALSE(ConductanceImbalanced(600, 659));
    EXPECT_FALSE(ConductanceImbalanced(659, 600));
    EXPECT_TRUE(ConductanceImbalanced(600, 660));
    EXPECT_TRUE(ConductanceImbalanced(660, 600));
}

TEST(ProtectionMath, RegisterLayoutsAreNotMasked) {
    EXPECT_EQ(ComposeStmax(1520, 839), 0xD347D5F0u);
    EXPECT_EQ(ComposeStpte(667, 2, 5, 2), 0x0054229Bu);
    EXPECT_EQ(ComposeStmax(0, 0), 0xD000D000u);
    EXPECT_EQ(ComposeStpte(0, 2, 5, 2), 0x00542000u);
    // A field wider than 12 bits spills into its neighbours unchecked.
    EXPECT_EQ(ComposeStmax(0x2345, 0x2ABC), 0xFABCF345u);
    EXPECT_EQ(ComposeStpte(0x3001, 15, 7, 7), 0x007EF001u);
    EXPECT_EQ(ComposeStpte(0x1FFFF, 0, 0, 0), 0x0001FFFFu);
}

TEST(ProtectionMath, OnlyAFieldAboveTwelveBitsIsRefusedAndTheFirstIsNamed) {
    EXPECT_EQ(RegisterFieldOverflowLine({4095, 4095, 4095}), std::nullopt);
    EXPECT_EQ(RegisterFieldOverflowLine({0, 0, 0}), std::nullopt);
    EXPECT_EQ(RegisterFieldOverflowLine({4095, 4096, 5000}),
              "Calculated Pc = 4096(0x1000) is above the 12-bit register limit of 4095(0xfff),"
              "please raise Pref(W) and try again.\n");
    EXPECT_EQ(RegisterFieldOverflowLine({0, 0, 4096}),
              "Calculated Ip = 4096(0x1000) is above the 12-bit register limit of 4095(0xfff),"
              "please raise Pref(W) and try again.\n");
    // A negative intermediate wraps to a huge field, which does not fit either.
    EXPECT_EQ(RegisterFieldOverflowLine({5522, 4294967295u, 0}),
              "Calculated Pmax = 5522(0x1592) is above the 12-bit register limit of 4095(0xfff),"
              "please raise Pref(W) and try again.\n");
    EXPECT_EQ(RegisterFieldOverflowLine({0, 4294967295u, 0}),
              "Calculated Pc = 4294967295(0xffffffff) is above the 12-bit register limit of "
              "4095(0xfff),please raise Pref(W) and try again.\n");
}

TEST(ProtectionMath, ClipCodeAtEveryBound) {
    // Code 0x1F at 9/32, rising by 1/32 down to 0x10 at 24/32, then by 1/64 down to 0x01.
    for (int code = 0x1F; code >= 0x01; --code) {
        const double bound =
            code >= 0x10 ? (9.0 + (0x1F - code)) / 32.0 : (49.0 + (0x0F - code)) / 64.0;
        const auto cp = static_cast<float>(bound);
        ASSERT_EQ(static_cast<double>(cp), bound);
        EXPECT_EQ(ClipCode(cp), code) << "at " << bound;
        const int next = code == 0x01 ? 0x01 : code - 1;
        EXPECT_EQ(ClipCode(std::nextafter(cp, 2.0f)), next) << "just above " << bound;
        EXPECT_EQ(ComposeStclip(cp), static_cast<uint32_t>(code) << 24);
    }
    EXPECT_EQ(ComposeStclip(0.28125f), 0x1F000000u);
    EXPECT_EQ(ComposeStclip(0.9f), 0x06000000u);
    EXPECT_EQ(ComposeStclip(0.8125f), 0x0C000000u);
    EXPECT_EQ(ClipCode(0.0f), 0x1F);
    EXPECT_EQ(ClipCode(1.0f), 0x01);
    // Outside the table: the last row's code.
    EXPECT_EQ(ClipCode(1.5f), 0x01);
    EXPECT_EQ(ClipCode(std::numeric_limits<float>::quiet_NaN()), 0x01);
}

// Settings within the dialog's bounds, with readings whose fields fit their 12 bits: reading
// the composed registers back gives the calculated fields and the settings again.
struct RoundTrip {
    uint32_t avg, pmax, pc, ip, pref;
    float cp;
    uint32_t ep, red, rec;
};

constexpr RoundTrip kRoundTrips[] = {
    {760, 500, 250, 36, 900, 0.8125f, 2, 5, 2},        {710, 500, 250, 36, 900, 0.9f, 0, 0, 0},
    {550, 1000, 1000, 100, 10000, 0.28125f, 15, 7, 7}, {900, 0, 0, 0, 0, 0.5f, 1, 6, 3},
    {629, 300, 999, 60, 1800, 0.796875f, 8, 1, 7},     {760, 1000, 1, 1, 1000, 0.6f, 15, 0, 7},
};

TEST(ProtectionMath, DecodingGivesBackWhatWasComposed) {
    for (const RoundTrip& row : kRoundTrips) {
        const Coefficients coefficients = CalculateCoefficients(row.avg);
        const RegisterFields fields =
            CalculateRegisterFields(row.avg, coefficients, row.pmax, row.pc, row.ip, row.pref);
        ASSERT_EQ(RegisterFieldOverflowLine(fields), std::nullopt) << row.avg << " " << row.pref;

        const StmaxFields stmax = DecodeStmax(ComposeStmax(fields.calcPmax, fields.calcIp));
        EXPECT_EQ(stmax.calcPmax, fields.calcPmax);
        EXPECT_EQ(stmax.calcIp, fields.calcIp);
        EXPECT_EQ(stmax.marker, 0xD000D000u);

        const StpteFields stpte =
            DecodeStpte(ComposeStpte(fields.calcPc, row.ep, row.red, row.rec));
        EXPECT_EQ(stpte.calcPc, fields.calcPc);
        EXPECT_EQ(stpte.ep, row.ep);
        EXPECT_EQ(stpte.red, row.red);
        EXPECT_EQ(stpte.rec, row.rec);

        const uint8_t code = DecodeStclip(ComposeStclip(row.cp));
        EXPECT_EQ(code, ClipCode(row.cp));
        const std::optional<ClipSpan> span = ClipSpanOf(code);
        ASSERT_TRUE(span) << row.cp;
        const auto cp = static_cast<double>(row.cp);
        EXPECT_TRUE(!span->above || cp > *span->above) << row.cp;
        EXPECT_TRUE(!span->atMost || cp <= *span->atMost) << row.cp;
    }
}

TEST(ProtectionMath, DecodingReadsEachFieldFromItsOwnBits) {
    const StmaxFields stmax = DecodeStmax(0xD347D5F0u);
    EXPECT_EQ(stmax.calcPmax, 1520u);
    EXPECT_EQ(stmax.calcIp, 839u);
    EXPECT_EQ(stmax.marker, 0xD000D000u);
    // An amplifier's own value need not carry the marker.
    EXPECT_EQ(DecodeStmax(0x0FFF0FFFu).marker, 0u);
    const StpteFields stpte = DecodeStpte(0xFFFFFFFFu);
    EXPECT_EQ(stpte.calcPc, 0xFFFu);
    EXPECT_EQ(stpte.ep, 0x1Fu);
    EXPECT_EQ(stpte.rec, 0x7u);
    EXPECT_EQ(stpte.red, 0xFFFu);
    EXPECT_EQ(DecodeStclip(0x0CFFFFFFu), 0x0C);

    // Every code of the table: the span's upper bound selects it, the lower one the code
    // before it.
    for (int code = 0x1F; code >= 0x01; --code) {
        const std::optional<ClipSpan> span = ClipSpanOf(static_cast<uint8_t>(code));
        ASSERT_TRUE(span) << code;
        if (span->atMost) {
            EXPECT_EQ(ClipCode(static_cast<float>(*span->atMost)), code);
        }
        if (span->above) {
            EXPECT_EQ(ClipCode(static_cast<float>(*span->above)), code + 1);
        }
        EXPECT_EQ(!span->above, code == 0x1F);
        EXPECT_EQ(!span->atMost, code == 0x01);
    }
    EXPECT_FALSE(ClipSpanOf(0x00));
    EXPECT_FALSE(ClipSpanOf(0x20));
}

TEST(ProtectionMath, LogFormatting) {
    EXPECT_EQ(FormatRegisterLine("STPTE", 0x0054229B), "REG STPTE = 0X0054229B\n");
    EXPECT_EQ(FormatRegisterLine("STCLIP", 0x0C000000), "REG STCLIP = 0X0C000000\n");
    EXPECT_EQ(FormatRegisterLine("STMAX", 0xABCDEF), "REG STMAX = 0X00ABCDEF\n");
    EXPECT_EQ(FormatValueLine("Calculated Pc = %d(0x%x)\n", 4294967295u),
              "Calculated Pc = -1(0xffffffff)\n");
    EXPECT_EQ(FormatValueLine("Coeff0 = %d(0x%x)\n", 760), "Coeff0 = 760(0x2f8)\n");
    EXPECT_EQ(FormatFigureLine("P4 %d\n", -810), "P4 -810\n");

    // Five decimals, rounded as the C library's "%0.5f" rounds them (by the exact binary
    // value, so 1.000005 goes down and 0.000005 up).
    const double samples[] = {0.0,         1264.64, 1977.896960000001, 1.000005, 0.000005,
                              -4548.39840, 2.5e-6,  123456789.123455,  1e300,    -0.000001};
    for (double value : samples) {
        char expected[400];
        std::snprintf(expected, sizeof expected, "%0.5f", value);
        EXPECT_EQ(FormatFixed5(value), expected);
    }
}

}  // namespace
}  // namespace k5::torvik
