// The renderer as a plug-in sees it.
#pragma once
#include "quor/interface.h"

namespace quor {

// The length of a scene unit; the scale is the first data field after the operations table.
class SceneUnitsInterface {
  public:
    virtual int getInterfaceId() const { return EXT_SCENE_UNITS; }
    double scale = 1.0;

  protected:
    ~SceneUnitsInterface() = default;
};

class SceneObject {
  public:
    virtual ~SceneObject() = default;
    virtual void* getInterface(int id) const;
    SceneUnitsInterface* units() const {
        return static_cast<SceneUnitsInterface*>(getInterface(EXT_SCENE_UNITS));
    }
};

// A scene object that may offer the units interface.
class SimpleSceneObject final : public SceneObject, public SceneUnitsInterface {
  public:
    bool hasUnits = false;
    void* getInterface(int id) const override;
};

class QuorRenderer {
  public:
    int threadCount = 1;
    SceneObject* scene = nullptr;
};

} // namespace quor
