// Everything a plug-in sees of the host.
#pragma once
#include "quor/context.h"
#include "quor/gpu.h"
#include "quor/interface.h"
#include "quor/memory.h"
#include "quor/params.h"
#include "quor/plugin.h"
#include "quor/renderer.h"
#include "quor/sampler.h"
#include "quor/texture.h"
#include "quor/types.h"
