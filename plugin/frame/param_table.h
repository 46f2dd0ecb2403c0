// A model's parameter table: one row per parameter with everything the library says about it
// (name, kind, registered default, description and hint texts, and the value an unconnected
// texture slot gives). The same rows register the parameters, bind the instance's fields and
// give the model its defaults, so a parameter is written down once.
#pragma once
#include <array>
#include <cstddef>
#include <span>
#include <string_view>

#include "frame/host_rules.h"
#include "quor/params.h"

namespace hair {

struct ParamSpec {
    // What an unconnected texture slot gives: the registered default, a constant of the
    // model's own, or a value the model takes from the strand record.
    enum class Unbound { Registered, Constant, Strand };

    const char* name;
    quor::ParamKind kind;
    quor::Color color; // Texture and TextureRGB (a unused for TextureRGB)
    float value;       // TextureFloat and Float; Int and Bool as a whole number
    const char* description;
    const char* hints;
    Unbound unbound = Unbound::Registered;
    quor::Color unboundColor{}; // Unbound::Constant: the colour, or the float in its r lane

    // The model's value for an unconnected slot that differs from the registered default.
    constexpr ParamSpec unboundAs(float v) const {
        ParamSpec p = *this;
        p.unbound = Unbound::Constant;
        p.unboundColor = {v, v, v, v};
        return p;
    }
    constexpr ParamSpec unboundAs(quor::Color c) const {
        ParamSpec p = *this;
        p.unbound = Unbound::Constant;
        p.unboundColor = c;
        return p;
    }
    // The model reads an unconnected slot from the strand record.
    constexpr ParamSpec unboundFromStrand() const {
        ParamSpec p = *this;
        p.unbound = Unbound::Strand;
        return p;
    }
    constexpr quor::Color unboundColorValue() const {
        return unbound == Unbound::Constant ? unboundColor : color;
    }
    constexpr float unboundFloatValue() const {
        return unbound == Unbound::Constant ? unboundColor.r : value;
    }
};

// Rows of the table, one maker per kind of add-parameter call.
constexpr ParamSpec colorTexture(const char* name, quor::AColor def, const char* desc, const char* hints) {
    return {name, quor::ParamKind::Texture, def, 0.0f, desc, hints};
}
constexpr ParamSpec rgbTexture(const char* name, quor::Color3f def, const char* desc, const char* hints) {
    return {name, quor::ParamKind::TextureRGB, {def.r, def.g, def.b, 0.0f}, 0.0f, desc, hints};
}
constexpr ParamSpec floatTexture(const char* name, float def, const char* desc, const char* hints) {
    return {name, quor::ParamKind::TextureFloat, {}, def, desc, hints};
}
constexpr ParamSpec floatParam(const char* name, float def, const char* desc, const char* hints) {
    return {name, quor::ParamKind::Float, {}, def, desc, hints};
}
constexpr ParamSpec intParam(const char* name, int def, const char* desc, const char* hints) {
    return {name, quor::ParamKind::Int, {}, float(def), desc, hints};
}
constexpr ParamSpec boolParam(const char* name, bool def, const char* desc, const char* hints) {
    return {name, quor::ParamKind::Bool, {}, def ? 1.0f : 0.0f, desc, hints};
}

// One add-parameter call per row, in table order.
void registerParams(quor::QuorParameterListDesc& d, std::span<const ParamSpec> table);

// The index of a parameter of `Table`, found when compiling: a name that is not in the table
// does not compile. Converts implicitly from the parameter's registered name.
template <const auto& Table> struct ParamName {
    int index;
    consteval ParamName(const char* name) : index(find(name)) {}
    static consteval int find(std::string_view name) {
        for (std::size_t i = 0; i < std::size(Table); ++i)
            if (name == Table[i].name) return static_cast<int>(i);
        throw "not a parameter of this table";
    }
};

// The instance's fields for the parameters of `Table`, one slot per row; the host keeps them
// current once bound (setParamCache). A plain value the host does not bind keeps its default.
template <const auto& Table> class ParamBlock {
  public:
    using Name = ParamName<Table>;
    static constexpr std::size_t kCount = std::size(Table);

    ParamBlock() {
        for (std::size_t i = 0; i < kCount; ++i) {
            slots_[i].f = Table[i].value;
            slots_[i].i = static_cast<int>(Table[i].value);
        }
    }

    // Binds every slot by its row's kind; `bind(name, field)` is the instance's binding call.
    template <class Bind> void bindAll(Bind&& bind) {
        for (std::size_t i = 0; i < kCount; ++i) {
            Slot& s = slots_[i];
            switch (Table[i].kind) {
            case quor::ParamKind::Texture:
            case quor::ParamKind::TextureRGB:
                bind(Table[i].name, &s.color);
                break;
            case quor::ParamKind::TextureFloat:
                bind(Table[i].name, &s.scalar);
                break;
            case quor::ParamKind::Float:
                bind(Table[i].name, &s.f);
                break;
            case quor::ParamKind::Int:
            case quor::ParamKind::Bool:
                bind(Table[i].name, &s.i);
                break;
            }
        }
    }

    // A colour slot at ctx, or the row's value for an unconnected slot.
    Color4 color(Name n, const quor::QuorContext& ctx) const {
        return textureColor(slots_[n.index].color, ctx, Color4::rgb(Table[n.index].unboundColorValue()));
    }
    // A colour slot at ctx, or `strand` (the strand record's value) for an unconnected slot.
    Color4 color(Name n, const quor::QuorContext& ctx, Color4 strand) const {
        return textureColor(slots_[n.index].color, ctx, strand);
    }
    // A float slot at ctx, or the row's value for an unconnected slot.
    float scalar(Name n, const quor::QuorContext& ctx) const {
        return textureFloat(slots_[n.index].scalar, ctx, Table[n.index].unboundFloatValue());
    }
    const quor::TextureInterface* colorTexture(Name n) const { return slots_[n.index].color; }
    const quor::TextureFloatInterface* floatTexture(Name n) const { return slots_[n.index].scalar; }
    float value(Name n) const { return slots_[n.index].f; }
    int integer(Name n) const { return slots_[n.index].i; }

  private:
    struct Slot {
        quor::TextureInterface* color = nullptr;
        quor::TextureFloatInterface* scalar = nullptr;
        float f = 0;
        int i = 0;
    };
    std::array<Slot, kCount> slots_;
};

} // namespace hair
