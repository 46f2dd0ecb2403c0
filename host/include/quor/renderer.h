// The renderer as a plug-in sees it.
#pragma once
#include "quor/interface.h"

namespace quor {

/// The length of a scene unit; the scale is the first data field after the operations table.
class SceneUnitsInterface {
  public:
    /// EXT_SCENE_UNITS.
    virtual int getInterfaceId() const { return EXT_SCENE_UNITS; }
    double scale = 1.0; ///< Length of one scene unit in metres.

  protected:
    ~SceneUnitsInterface() = default;
};

/// The scene a renderer holds; interfaces by identifier, null when absent.
class SceneObject {
  public:
    virtual ~SceneObject() = default;
    /// The interface with this identifier, or null.
    virtual void* getInterface(int id) const;
    /// The units interface, or null when the scene offers none.
    SceneUnitsInterface* units() const {
        return static_cast<SceneUnitsInterface*>(getInterface(EXT_SCENE_UNITS));
    }
};

/// A scene object that may offer the units interface.
class SimpleSceneObject final : public SceneObject, public SceneUnitsInterface {
  public:
    bool hasUnits = false; ///< Whether getInterface answers EXT_SCENE_UNITS.
    void* getInterface(int id) const override;
};

/// What renderBegin and frameBegin hand a plug-in.
class QuorRenderer {
  public:
    int threadCount = 1;          ///< Render threads; every context's thread index is below it.
    SceneObject* scene = nullptr; ///< The scene, or null.
};

} // namespace quor
