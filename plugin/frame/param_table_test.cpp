// The parameter tables against what the library registers and what its models do with an
// unconnected slot, for every type.
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "artist_hair/artist_hair_params.h"
#include "harness/test_support.h"
#include "production_hair/production_hair_params.h"
#include "simple_hair/simple_hair_params.h"
#include "three_lobe_hair/three_lobe_hair_params.h"

namespace {

using namespace harness;
using hair::ParamSpec;

std::span<const ParamSpec> table(const std::string& type) {
    static const std::map<std::string, std::span<const ParamSpec>> tables = {
        {"BRDFHair", hair::kBRDFHairParams},
        {"BRDFHair2", hair::kBRDFHair2Params},
        {"BRDFHair3", hair::kBRDFHair3Params},
        {"BRDFHair4", hair::kBRDFHair4Params}};
    return tables.at(type);
}

bool sameText(const char* a, const char* b) { return a == b || (a && b && std::strcmp(a, b) == 0); }

std::string colorText(const quor::Color& c) {
    return test::number(c.r) + "," + test::number(c.g) + "," + test::number(c.b);
}

class ParamTable : public ::testing::TestWithParam<std::string> {};

// Every row is registered in order with its kind, default and texts; a row whose unconnected
// value is a constant of the model's own really differs from the registered default.
TEST_P(ParamTable, RowsAreWhatTheLibraryRegisters) {
    const std::span<const ParamSpec> rows = table(GetParam());
    const quor::QuorParameterListDesc* d = test::library().host().params(test::library().type(GetParam()));
    ASSERT_NE(d, nullptr);
    ASSERT_EQ(d->count(), static_cast<int>(rows.size()));
    for (int i = 0; i < d->count(); ++i) {
        const quor::ParamInfo& p = d->param(i);
        const ParamSpec& row = rows[i];
        SCOPED_TRACE(row.name);
        EXPECT_STREQ(p.name, row.name);
        EXPECT_EQ(p.kind, row.kind);
        EXPECT_TRUE(sameText(p.description, row.description));
        EXPECT_TRUE(sameText(p.hints, row.hints));
        const bool colour = row.kind == quor::ParamKind::Texture || row.kind == quor::ParamKind::TextureRGB;
        // The registered default and the row's, and the row's value for an unconnected slot.
        const bool whole = row.kind == quor::ParamKind::Int || row.kind == quor::ParamKind::Bool;
        auto text = [&](const quor::Color& c, int i, double f) {
            return colour ? colorText(c) : whole ? std::to_string(i) : test::number(f);
        };
        const std::string own = text(row.color, static_cast<int>(row.value), row.value);
        EXPECT_EQ(text(p.colorDefault, p.intDefault, p.floatDefault), own);
        if (row.unbound == ParamSpec::Unbound::Constant) {
            EXPECT_NE(colour ? colorText(row.unboundColor) : test::number(row.unboundColor.r), own);
        }
    }
}

// A point with one slot unconnected shades bit for bit as the same point with that slot bound
// to the value its row names: the registered default, the model's constant, or the strand's.
TEST_P(ParamTable, AnUnconnectedSlotShadesAsItsRowSays) {
    const std::string type = GetParam();
    const Rgb strandColor{0.3f, 0.5f, 0.7f}, strandTransparency{0.2f, 0.1f, 0.4f};
    const quor::Vector lights[] = {{0, 0.6f, 0.8f, 0}, {0.5f, -0.5f, 0.7071f, 0}, {-0.2f, 0.9f, -0.39f, 0}};
    auto shade = [&](const ParamSets& sets) {
        PointOptions o = test::hairGeometry();
        o.unchecked = true;
        o.dir = {0.3f, -0.2f, -0.93f};
        o.h = 0.3f;
        o.strandColor = strandColor;
        o.strandTransparency = strandTransparency;
        auto p = test::hairHit(type, sets, o);
        std::vector<float> out;
        for (const quor::Vector& L : lights) {
            const quor::Color c = p->eval(L, 1.0f, quor::EVAL_ALL);
            out.insert(out.end(), {c.r, c.g, c.b, c.a});
        }
        const quor::Color t = p->brdf()->getTransparency();
        out.insert(out.end(), {t.r, t.g, t.b, t.a});
        return out;
    };
    const ParamSets defaults = test::registeredDefaults(type);
    int slots = 0;
    for (const ParamSpec& row : table(type)) {
        const bool colour = row.kind == quor::ParamKind::Texture || row.kind == quor::ParamKind::TextureRGB;
        if (!colour && row.kind != quor::ParamKind::TextureFloat) continue;
        std::string value =
            colour ? colorText(row.unboundColorValue()) : test::number(row.unboundFloatValue());
        if (row.unbound == ParamSpec::Unbound::Strand) {
            const Rgb s = std::string(row.name) == "transparency" ? strandTransparency : strandColor;
            value = colorText({s.r, s.g, s.b, s.b});
        }
        ParamSets unconnected = defaults, bound = defaults;
        for (auto& [name, v] : unconnected)
            if (name == row.name) v = "none";
        for (auto& [name, v] : bound)
            if (name == row.name) v = value;
        EXPECT_EQ(shade(unconnected), shade(bound)) << type << " " << row.name << " unconnected vs " << value;
        ++slots;
    }
    EXPECT_GT(slots, 0);
}

INSTANTIATE_TEST_SUITE_P(AllTypes, ParamTable, ::testing::ValuesIn(harness::test::types()));

} // namespace
