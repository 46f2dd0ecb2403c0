#include "frame/param_table.h"

namespace hair {

void registerParams(quor::QuorParameterListDesc& d, std::span<const ParamSpec> table) {
    for (const ParamSpec& p : table) {
        const quor::Color& c = p.color;
        switch (p.kind) {
        case quor::ParamKind::Texture:
            d.addParamTexture(p.name, c, -1, p.description, p.hints);
            break;
        case quor::ParamKind::TextureRGB:
            d.addParamTexture(p.name, quor::Color3f{c.r, c.g, c.b}, -1, p.description, p.hints);
            break;
        case quor::ParamKind::TextureFloat:
            d.addParamTextureFloat(p.name, p.value, -1, p.description, p.hints);
            break;
        case quor::ParamKind::Float:
            d.addParamFloat(p.name, p.value, -1, p.description, p.hints);
            break;
        case quor::ParamKind::Int:
            d.addParamInt(p.name, static_cast<int>(p.value), -1, p.description, p.hints);
            break;
        case quor::ParamKind::Bool:
            d.addParamBool(p.name, p.value != 0.0f, -1, p.description, p.hints);
            break;
        }
    }
}

} // namespace hair
