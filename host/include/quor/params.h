// Parameter descriptions of a plug-in type and the parameter list of an instance.
#pragma once
#include "quor/types.h"

namespace quor {

class QuorTexture;
class TextureInterface;
class TextureFloatInterface;
class QuorPluginHost;
class PluginDesc;

enum class ParamKind { Texture, TextureRGB, TextureFloat, Float, Int, Bool };

// One registered parameter: what the editor and saved scenes see.
struct ParamInfo {
    const char* name;
    ParamKind kind;
    Color colorDefault;      // Texture (RGBA) and TextureRGB (a unused)
    float floatDefault;      // TextureFloat and Float
    int intDefault;          // Int and Bool
    int count;               // always -1 in this library
    const char* description; // may be null
    const char* hints;       // may be null
};

class QuorParameterList;

class QuorParameterListDesc {
  public:
    QuorParameterListDesc();
    ~QuorParameterListDesc();
    QuorParameterListDesc(const QuorParameterListDesc&) = delete;
    QuorParameterListDesc& operator=(const QuorParameterListDesc&) = delete;

    int addParamTexture(const char* name, const AColor& def, int count, const char* desc, const char* hints);
    int addParamTexture(const char* name, const Color3f& def, int count, const char* desc, const char* hints);
    int addParamTextureFloat(const char* name, float def, int count, const char* desc, const char* hints);
    int addParamFloat(const char* name, float def, int count, const char* desc, const char* hints);
    int addParamInt(const char* name, int def, int count, const char* desc, const char* hints);
    int addParamBool(const char* name, bool def, int count, const char* desc, const char* hints);

    int registerParameters(QuorPluginHost* host, PluginDesc* desc);
    QuorParameterList* newParameterList();
    void deleteParameterList(QuorParameterList* list);

    int count() const;
    const ParamInfo& param(int index) const;
    int indexOf(const char* name) const; // -1 when unknown

  private:
    struct Impl;
    Impl* impl_;
};

// A parameter's current value. Setting it updates every field bound with setParamCache.
class QuorParameter {
  public:
    const ParamInfo& info() const { return *info_; }
    const char* name() const { return info_->name; }
    ParamKind kind() const { return info_->kind; }

    // Plain values (Float, Int, Bool).
    void setFloat(float v);
    void setInt(int v);
    float getFloat() const { return floatValue_; }
    int getInt() const { return intValue_; }

    // Texture slots: a constant texture owned by the parameter, a texture owned by
    // someone else, or nothing (null).
    void setConstantColor(const AColor& c);
    void setConstantFloat(float v);
    void setTexture(QuorTexture* tex);
    void clearTexture() { setTexture(nullptr); }
    QuorTexture* getTexture() const { return texture_; }
    // How many plug-in fields follow this parameter (setParamCache bindings).
    int bindingCount() const;

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

class QuorParameterList {
  public:
    explicit QuorParameterList(const QuorParameterListDesc* desc);
    ~QuorParameterList();
    QuorParameterList(const QuorParameterList&) = delete;
    QuorParameterList& operator=(const QuorParameterList&) = delete;

    // Bind a field to a parameter: it holds the current value from now on.
    // Returns 1 when the name and the field type fit the parameter, else 0.
    int setParamCache(const char* name, TextureInterface** field);
    int setParamCache(const char* name, TextureFloatInterface** field);
    int setParamCache(const char* name, float* field);
    int setParamCache(const char* name, int* field);

    QuorParameter* getParam(const char* name);
    // Copies the value of a parameter of the same name into this list. 1 on success.
    int setParameter(const QuorParameter& param);

    int count() const;
    QuorParameter* param(int index);

  private:
    struct Impl;
    Impl* impl_;
};

} // namespace quor
