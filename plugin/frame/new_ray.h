// The last step of sampleRay: the new context gets its ray, direction differentials, weight and
// probability from the sampled direction.
#pragma once
#include "math/fast_math.h"
#include "math/vec4.h"
#include "quor/context.h"

namespace hair {

// Where the new ray starts and how far it goes. The two path-traced models were defined against
// different host versions and still differ here; both are kept as they are, since changing
// either would move pixels of existing scenes.
enum class RayStart {
    // From the parent's hit point over [0, 1e18]; the direction is kept in the context even when
    // the host gives no ray record.
    ParentHit,
    // From the new context's hit point over [0, the host's maximum ray distance when enabled,
    // else 1e18], tagged with the owner's tag; nothing of the ray without a ray record.
    OwnHit,
};

// Hands the host the ray along unit direction d. The direction differentials are the parent's,
// mirrored about the half vector of the turn, so that a footprint follows the reflection.
HAIR_LANES void writeNewRay(const quor::QuorContext& parent, quor::QuorContext& next, const Vec4& d,
                            const Color4& weight, float prob, RayStart start) {
    const Vec4 h = normalizeSafe(d - Vec4(parent.rayDir));
    for (int i = 0; i < 2; ++i) {
        const Vec4 e(parent.dirDiff[i]);
        next.dirDiff[i] = (e - (2.0f * dot(e, h)) * h).host();
    }
    const quor::Vector dir = d.host();
    if (start == RayStart::ParentHit) next.rayDir = dir;
    if (quor::RayRecord* ray = next.ray) {
        ray->dir = dir;
        ray->tmin = 0.0f;
        if (start == RayStart::ParentHit) {
            ray->origin = parent.hitPoint;
            ray->tmax = 1e18f;
        } else {
            next.rayDir = dir;
            ray->origin = next.hitPoint;
            ray->tag = next.ownerTag;
            ray->tmax =
                parent.settings && parent.settings->maxRayDistOn ? parent.settings->maxRayDist : 1e18f;
        }
    }
    next.pathWeight = weight.host();
    next.pathProb = prob;
}

} // namespace hair
