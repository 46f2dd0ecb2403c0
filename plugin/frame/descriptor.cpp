#include "frame/descriptor.h"

namespace hair {

DescRegistry::Node* DescRegistry::head = nullptr;
int DescRegistry::count = 0;

void DescRegistry::add(quor::PluginDesc* desc) {
    ++count;
    head = libNew<Node>(Node{desc, head});
}

LibDesc::~LibDesc() {
    while (DescRegistry::head) {
        DescRegistry::Node* n = DescRegistry::head;
        DescRegistry::head = n->next;
        libFree(n);
    }
}

int LibDesc::enumPluginDescs(quor::PluginDescCallback* callback) {
    if (!callback) return DescRegistry::count;
    int n = 0;
    for (DescRegistry::Node* node = DescRegistry::head; node; node = node->next) {
        ++n;
        if (callback->onPluginDesc(node->desc) == 0) break;
    }
    return n;
}

} // namespace hair
