// A minimal host: loads the hair library by path, registers its types, makes one BRDFHair4
// material, binds two parameters, starts a render and a frame, shades one point of a strand
// with two lights and one sampled ray, and tears everything down. It uses only the host
// interface headers and libquor, as a renderer wiring in the library would.
//
//   minimal_host /path/to/libbrdf_hair.so
#include <dlfcn.h>

#include <cmath>
#include <cstdio>

#include "quor/quor.h"

namespace {

// Registers every type the library enumerates with the host.
struct RegisterAll final : quor::PluginDescCallback {
    quor::QuorPluginHost* host;
    int onPluginDesc(quor::PluginDesc* desc) override {
        desc->registerPlugin(host);
        return 1; // go on
    }
};

bool finiteNonNegative(const quor::Color& c) {
    return std::isfinite(c.r) && std::isfinite(c.g) && std::isfinite(c.b) && c.r >= 0 && c.g >= 0 && c.b >= 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: minimal_host PLUGIN.so\n");
        return 2;
    }
    // 1. The library: one exported entry, getLibDesc.
    void* handle = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        std::fprintf(stderr, "minimal_host: %s\n", dlerror());
        return 2;
    }
    auto getLibDesc = reinterpret_cast<quor::PluginLibDesc* (*)()>(dlsym(handle, "getLibDesc"));
    quor::PluginLibDesc* lib = getLibDesc ? getLibDesc() : nullptr;
    if (!lib) {
        std::fprintf(stderr, "minimal_host: %s has no library descriptor\n", argv[1]);
        return 2;
    }
    quor::QuorPluginHost host;
    RegisterAll reg;
    reg.host = &host;
    std::printf("%s: %d types\n", lib->getLibName(), lib->enumPluginDescs(&reg));

    // 2. An instance and its two interfaces, found by identifier.
    quor::PluginDesc* desc = host.find("BRDFHair4");
    quor::PluginBase* material = desc ? desc->newPlugin(nullptr) : nullptr;
    if (!material) return 1;
    auto* plugin = static_cast<quor::QuorPluginInterface*>(material->getInterface(quor::EXT_QUOR_PLUGIN));
    auto* bsdfs = static_cast<quor::BSDFInterface*>(material->getInterface(quor::EXT_BSDF));

    // 3. Two parameters; a texture slot left unset stays unconnected and the material uses its
    //    documented default for it.
    plugin->getParameter("melanin")->setConstantFloat(0.2f);
    plugin->getParameter("dye_color")->setConstantColor({0.9f, 0.6f, 0.4f, 1.0f});

    // 4. A render with one thread, then a frame.
    quor::SimpleSceneObject scene;
    quor::QuorRenderer renderer;
    renderer.threadCount = 1;
    renderer.scene = &scene;
    plugin->renderBegin(&renderer);
    plugin->frameBegin(&renderer);

    // 5. The hit: a strand along +y seen from +z, the strand record offered by the hit object.
    quor::SimpleStrandData strand;
    strand.record.tangent = {0, 1, 0, 0};
    strand.record.h = 0.2f;
    quor::RenderSettings settings;
    quor::QuorContext ctx;
    ctx.threadIndex = 0; // below renderer.threadCount
    ctx.rayDir = {0, 0, -1, 0};
    ctx.normal = {0, 0, 1, 0};
    ctx.contextFlags = quor::CTX_SKIP_BELOW_SURFACE; // a fibre scatters into the whole sphere
    ctx.surfaceData = &strand;
    ctx.settings = &settings;

    // 6. One shading point: newBSDF -> getBRDF -> eval per light -> sampleRay -> deleteBSDF.
    int status = 0;
    quor::BSDFSampler* bsdf = bsdfs->newBSDF(ctx, 0);
    quor::BRDFSampler* brdf = bsdf ? bsdf->getBRDF(0) : nullptr;
    if (!brdf) return 1;
    const quor::Vector lights[2] = {{0, 0, 1, 0}, {0.6f, 0, 0.8f, 0}};
    for (const quor::Vector& L : lights) {
        quor::Color color{1, 1, 1, 1}, unshadowed{1, 1, 1, 1};
        quor::Color c = brdf->eval(ctx, L, color, unshadowed, 1.0f, quor::EVAL_DIFFUSE | quor::EVAL_SPECULAR);
        std::printf("light (%g %g %g): %g %g %g\n", L.x, L.y, L.z, c.r, c.g, c.b);
        if (!finiteNonNegative(c)) status = 1;
    }
    quor::QuorContext next; // the continuation ray's context
    quor::RayRecord ray;
    next.threadIndex = ctx.threadIndex;
    next.rayDepth = ctx.rayDepth + 1;
    next.settings = &settings;
    next.ray = &ray;
    next.dmc[1] = 0.3f, next.dmc[2] = 0.6f, next.dmc[3] = 0.2f;
    float result = brdf->sampleRay(ctx, next, 0.4f, 0);
    const quor::Vector& d = ray.dir;
    std::printf("sampled: %g direction %g %g %g weight %g %g %g probability %g\n", result, d.x, d.y, d.z,
                next.pathWeight.r, next.pathWeight.g, next.pathWeight.b, next.pathProb);
    if (result > 0 && (std::fabs(d.x * d.x + d.y * d.y + d.z * d.z - 1) > 1e-4f || !(next.pathProb > 0) ||
                       !finiteNonNegative(next.pathWeight)))
        status = 1;
    bsdfs->deleteBSDF(ctx, bsdf);

    // 7. Tear-down in reverse: frame, render, instance, registration. The library stays loaded
    //    until nothing of it is referenced.
    plugin->frameEnd(&renderer);
    plugin->renderEnd(&renderer);
    desc->deletePlugin(material);
    for (int i = host.count() - 1; i >= 0; --i)
        host.desc(i)->unregisterPlugin(&host);
    dlclose(handle);
    return status;
}
