// Parameter descriptions of a plug-in type and the parameter list of an instance.
#pragma once
#include "quor/types.h"

namespace quor {

class QuorTexture;
class TextureInterface;
class TextureFloatInterface;
class QuorPluginHost;
class PluginDesc;

/// The kinds of parameter a type can register.
enum class ParamKind {
    Texture,      ///< Colour texture slot with an RGBA default.
    TextureRGB,   ///< Colour texture slot with an RGB default.
    TextureFloat, ///< Float texture slot.
    Float,        ///< Plain float.
    Int,          ///< Plain 32-bit integer.
    Bool          ///< Switch, held as an integer 0 or 1.
};

/// One registered parameter: what the editor and saved scenes see.
struct ParamInfo {
    const char* name;        ///< Parameter name, lower case with underscores.
    ParamKind kind;          ///< What the parameter holds.
    Color colorDefault;      ///< Texture (RGBA) and TextureRGB (a unused)
    float floatDefault;      ///< TextureFloat and Float
    int intDefault;          ///< Int and Bool
    int count;               ///< always -1 in this library
    const char* description; ///< may be null
    const char* hints;       ///< UI hints "key=(value), ..."; may be null
};

class QuorParameterList;

/// The parameters a type registers, in order; the source of every instance's parameter list.
class QuorParameterListDesc {
  public:
    /// An empty description.
    QuorParameterListDesc();
    ~QuorParameterListDesc();
    QuorParameterListDesc(const QuorParameterListDesc&) = delete;
    QuorParameterListDesc& operator=(const QuorParameterListDesc&) = delete;

    /// Adds a colour texture slot with an RGBA default.
    int addParamTexture(const char* name, const AColor& def, int count, const char* desc, const char* hints);
    /// Adds a colour texture slot with an RGB default.
    int addParamTexture(const char* name, const Color3f& def, int count, const char* desc, const char* hints);
    /// Adds a float texture slot.
    int addParamTextureFloat(const char* name, float def, int count, const char* desc, const char* hints);
    /// Adds a plain float.
    int addParamFloat(const char* name, float def, int count, const char* desc, const char* hints);
    /// Adds a plain 32-bit integer.
    int addParamInt(const char* name, int def, int count, const char* desc, const char* hints);
    /// Adds a switch.
    int addParamBool(const char* name, bool def, int count, const char* desc, const char* hints);

    /// Records this description as the parameters of desc in the host's registry.
    int registerParameters(QuorPluginHost* host, PluginDesc* desc);
    /// A new list holding every parameter at its default (textures unconnected).
    QuorParameterList* newParameterList();
    /// Deletes a list from newParameterList.
    void deleteParameterList(QuorParameterList* list);

    /// Number of parameters.
    int count() const;
    /// The parameter at index, in registration order.
    const ParamInfo& param(int index) const;
    /// Index of a parameter by name; -1 when unknown.
    int indexOf(const char* name) const;

  private:
    struct Impl;
    Impl* impl_;
};

/// A parameter's current value. Setting it updates every field bound with setParamCache.
class QuorParameter {
  public:
    /// What was registered.
    const ParamInfo& info() const { return *info_; }
    /// The registered name.
    const char* name() const { return info_->name; }
    /// The registered kind.
    ParamKind kind() const { return info_->kind; }

    /// Sets a Float parameter.
    void setFloat(float v);
    /// Sets an Int or Bool parameter.
    void setInt(int v);
    /// The value of a Float parameter.
    float getFloat() const { return floatValue_; }
    /// The value of an Int or Bool parameter.
    int getInt() const { return intValue_; }

    /// Connects a constant colour texture owned by the parameter.
    void setConstantColor(const AColor& c);
    /// Connects a constant float texture owned by the parameter.
    void setConstantFloat(float v);
    /// Connects a texture owned by someone else (it must outlive the binding); null disconnects.
    void setTexture(QuorTexture* tex);
    /// Leaves the slot unconnected: bound fields hold null.
    void clearTexture() { setTexture(nullptr); }
    /// The connected texture, or null.
    QuorTexture* getTexture() const { return texture_; }
    /// How many plug-in fields follow this parameter (setParamCache bindings).
    int bindingCount() const;

    /// A parameter at the default of info.
    QuorParameter(const ParamInfo* info);
    ~QuorParameter();
    QuorParameter(const QuorParameter&) = delete;
    QuorParameter& operator=(const QuorParameter&) = delete;

  private:
    friend class QuorParameterList;
    void publish();
    const ParamInfo* info_;
    float floatValue_ = 0;
    int intValue_ = 0;
    QuorTexture* texture_ = nullptr;
    QuorTexture* owned_ = nullptr;
    struct Binding;
    Binding* bindings_ = nullptr;
};

/// An instance's parameter values, one per registered parameter.
class QuorParameterList {
  public:
    /// Every parameter of desc at its default.
    explicit QuorParameterList(const QuorParameterListDesc* desc);
    ~QuorParameterList();
    QuorParameterList(const QuorParameterList&) = delete;
    QuorParameterList& operator=(const QuorParameterList&) = delete;

    /// Binds a colour texture field: it holds the current texture from now on.
    /// Returns 1 when the name and the field type fit the parameter, else 0.
    int setParamCache(const char* name, TextureInterface** field);
    /// Binds a float texture field; 1 when name and type fit, else 0.
    int setParamCache(const char* name, TextureFloatInterface** field);
    /// Binds a float field; 1 when name and type fit, else 0.
    int setParamCache(const char* name, float* field);
    /// Binds an integer field (Int or Bool); 1 when name and type fit, else 0.
    int setParamCache(const char* name, int* field);

    /// The parameter of that name, or null.
    QuorParameter* getParam(const char* name);
    /// Copies the value of a parameter of the same name into this list. 1 on success.
    int setParameter(const QuorParameter& param);

    /// Number of parameters.
    int count() const;
    /// The parameter at index, in registration order.
    QuorParameter* param(int index);

  private:
    struct Impl;
    Impl* impl_;
};

} // namespace quor
