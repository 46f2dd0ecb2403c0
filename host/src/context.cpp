#include "quor/context.h"

#include "quor/renderer.h"

namespace quor {

float QuorContext::getDMC(int dimension) const { return dmc[dimension & 3]; }

int QuorContext::addRay(int, const Color&, int, const Vector&) { return 0; }

void* SimpleStrandData::getInterface(int id) const {
    if (id == EXT_STRAND_DATA && hasStrandData)
        return const_cast<StrandDataInterface*>(static_cast<const StrandDataInterface*>(this));
    if (id == EXT_STRAND_OPACITY && hasCoverage)
        return const_cast<StrandOpacityInterface*>(static_cast<const StrandOpacityInterface*>(this));
    return nullptr;
}

void* SceneObject::getInterface(int) const { return nullptr; }

void* SimpleSceneObject::getInterface(int id) const {
    if (id == EXT_SCENE_UNITS && hasUnits)
        return const_cast<SceneUnitsInterface*>(static_cast<const SceneUnitsInterface*>(this));
    return nullptr;
}

} // namespace quor
