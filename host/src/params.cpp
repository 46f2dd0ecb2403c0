// Parameter descriptions, parameter lists and the bindings that keep instance fields current.
#include "quor/params.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "quor/plugin.h"
#include "quor/texture.h"

namespace quor {

struct QuorParameterListDesc::Impl {
    // Texts are copied so that descriptions outlive the caller's buffers.
    struct Owned {
        ParamInfo info;
        std::string name, description, hints;
        bool hasDescription, hasHints;
    };
    std::vector<std::unique_ptr<Owned>> params;

    int add(ParamInfo info) {
        auto o = std::make_unique<Owned>();
        o->name = info.name;
        o->hasDescription = info.description != nullptr;
        o->hasHints = info.hints != nullptr;
        if (o->hasDescription) o->description = info.description;
        if (o->hasHints) o->hints = info.hints;
        o->info = info;
        o->info.name = o->name.c_str();
        o->info.description = o->hasDescription ? o->description.c_str() : nullptr;
        o->info.hints = o->hasHints ? o->hints.c_str() : nullptr;
        params.push_back(std::move(o));
        return 1;
    }
};

QuorParameterListDesc::QuorParameterListDesc() : impl_(new Impl) {}
QuorParameterListDesc::~QuorParameterListDesc() { delete impl_; }

int QuorParameterListDesc::addParamTexture(const char* name, const AColor& def, int count, const char* desc,
                                           const char* hints) {
    return impl_->add({name, ParamKind::Texture, def, 0, 0, count, desc, hints});
}
int QuorParameterListDesc::addParamTexture(const char* name, const Color3f& def, int count, const char* desc,
                                           const char* hints) {
    return impl_->add({name, ParamKind::TextureRGB, {def.r, def.g, def.b, 1.0f}, 0, 0, count, desc, hints});
}
int QuorParameterListDesc::addParamTextureFloat(const char* name, float def, int count, const char* desc,
                                                const char* hints) {
    return impl_->add({name, ParamKind::TextureFloat, {}, def, 0, count, desc, hints});
}
int QuorParameterListDesc::addParamFloat(const char* name, float def, int count, const char* desc,
                                         const char* hints) {
    return impl_->add({name, ParamKind::Float, {}, def, 0, count, desc, hints});
}
int QuorParameterListDesc::addParamInt(const char* name, int def, int count, const char* desc,
                                       const char* hints) {
    return impl_->add({name, ParamKind::Int, {}, 0, def, count, desc, hints});
}
int QuorParameterListDesc::addParamBool(const char* name, bool def, int count, const char* desc,
                                        const char* hints) {
    return impl_->add({name, ParamKind::Bool, {}, 0, def ? 1 : 0, count, desc, hints});
}

int QuorParameterListDesc::registerParameters(QuorPluginHost* host, PluginDesc* desc) {
    if (!host) return 0;
    host->setParamDesc(desc, this);
    return 1;
}

QuorParameterList* QuorParameterListDesc::newParameterList() { return new QuorParameterList(this); }
void QuorParameterListDesc::deleteParameterList(QuorParameterList* list) { delete list; }

int QuorParameterListDesc::count() const { return static_cast<int>(impl_->params.size()); }
const ParamInfo& QuorParameterListDesc::param(int index) const { return impl_->params[index]->info; }
int QuorParameterListDesc::indexOf(const char* name) const {
    for (int i = 0; i < count(); ++i)
        if (std::strcmp(impl_->params[i]->info.name, name) == 0) return i;
    return -1;
}

// --- parameter values --------------------------------------------------------------------

namespace {
bool isTexture(ParamKind k) {
    return k == ParamKind::Texture || k == ParamKind::TextureRGB || k == ParamKind::TextureFloat;
}
} // namespace

struct QuorParameter::Binding {
    enum Kind { ColorTex, FloatTex, Float, Int } kind;
    void* field;
    Binding* next;
};

QuorParameter::QuorParameter(const ParamInfo* info) : info_(info) {
    floatValue_ = info->kind == ParamKind::Float ? info->floatDefault : static_cast<float>(info->intDefault);
    intValue_ = info->kind == ParamKind::Float ? static_cast<int>(info->floatDefault) : info->intDefault;
}

QuorParameter::~QuorParameter() {
    delete owned_;
    while (bindings_) {
        Binding* b = bindings_;
        bindings_ = b->next;
        delete b;
    }
}

void QuorParameter::publish() {
    for (Binding* b = bindings_; b; b = b->next) {
        switch (b->kind) {
        case Binding::ColorTex:
            *static_cast<TextureInterface**>(b->field) = texture_;
            break;
        case Binding::FloatTex:
            *static_cast<TextureFloatInterface**>(b->field) = texture_;
            break;
        case Binding::Float:
            *static_cast<float*>(b->field) = floatValue_;
            break;
        case Binding::Int:
            *static_cast<int*>(b->field) = intValue_;
            break;
        }
    }
}

void QuorParameter::setFloat(float v) {
    floatValue_ = v;
    intValue_ = static_cast<int>(v);
    publish();
}

void QuorParameter::setInt(int v) {
    intValue_ = v;
    floatValue_ = static_cast<float>(v);
    publish();
}

void QuorParameter::setTexture(QuorTexture* tex) {
    if (owned_ && owned_ != tex) {
        delete owned_;
        owned_ = nullptr;
    }
    texture_ = tex;
    publish();
}

void QuorParameter::setConstantColor(const AColor& c) {
    auto* t = new ConstantColorTexture(c);
    setTexture(t);
    owned_ = t;
}

void QuorParameter::setConstantFloat(float v) {
    auto* t = new ConstantFloatTexture(v);
    setTexture(t);
    owned_ = t;
}

// --- parameter lists ---------------------------------------------------------------------

struct QuorParameterList::Impl {
    std::vector<std::unique_ptr<QuorParameter>> params;

    QuorParameter* find(const char* name) {
        for (auto& p : params)
            if (std::strcmp(p->name(), name) == 0) return p.get();
        return nullptr;
    }
};

QuorParameterList::QuorParameterList(const QuorParameterListDesc* desc) : impl_(new Impl) {
    for (int i = 0; i < desc->count(); ++i)
        impl_->params.push_back(std::make_unique<QuorParameter>(&desc->param(i)));
}

QuorParameterList::~QuorParameterList() { delete impl_; }

#define QUOR_BIND(KIND, FITS)                                                                                \
    QuorParameter* p = getParam(name);                                                                       \
    if (!p || !(FITS)) return 0;                                                                             \
    p->bindings_ = new QuorParameter::Binding{QuorParameter::Binding::KIND, field, p->bindings_};            \
    p->publish();                                                                                            \
    return 1;

int QuorParameterList::setParamCache(const char* name, TextureInterface** field) {
    QUOR_BIND(ColorTex, isTexture(p->kind()))
}
int QuorParameterList::setParamCache(const char* name, TextureFloatInterface** field) {
    QUOR_BIND(FloatTex, isTexture(p->kind()))
}
int QuorParameterList::setParamCache(const char* name, float* field) {
    QUOR_BIND(Float, p->kind() == ParamKind::Float)
}
int QuorParameterList::setParamCache(const char* name, int* field) {
    QUOR_BIND(Int, p->kind() == ParamKind::Int || p->kind() == ParamKind::Bool)
}
#undef QUOR_BIND

int QuorParameter::bindingCount() const {
    int n = 0;
    for (const Binding* b = bindings_; b; b = b->next)
        ++n;
    return n;
}

QuorParameter* QuorParameterList::getParam(const char* name) { return impl_->find(name); }

int QuorParameterList::setParameter(const QuorParameter& src) {
    QuorParameter* p = getParam(src.name());
    if (!p || p->kind() != src.kind()) return 0;
    if (isTexture(p->kind())) {
        p->setTexture(src.getTexture()); // shared, not owned
    } else if (p->kind() == ParamKind::Float) {
        p->setFloat(src.getFloat());
    } else {
        p->setInt(src.getInt());
    }
    return 1;
}

int QuorParameterList::count() const { return static_cast<int>(impl_->params.size()); }
QuorParameter* QuorParameterList::param(int index) { return impl_->params[index].get(); }

} // namespace quor
