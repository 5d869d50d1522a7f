// SPDX-License-Identifier: GPL-3.0-or-later
// The IEEE 1394 bus of a build without the bus libraries: no ports, so no camcorders.
#include "mediagraph/firewire_bus.h"

namespace vantrel::mediagraph {

namespace {

class NoFireWireBus : public IFireWireBus {
public:
    int portCount() override { return 0; }
    std::unique_ptr<IFireWireHandle> open(int) override { return nullptr; }
    std::vector<FireWireAccessProblem> accessProblems() override { return {}; }
    GstOwned<GstElement> makeDvReceiver(int, std::uint64_t) override { return {}; }
    void setReceiverChannel(GstElement*, int) override {}
};

}  // namespace

std::shared_ptr<IFireWireBus> makeSystemFireWireBus()
{
    return std::make_shared<NoFireWireBus>();
}

}  // namespace vantrel::mediagraph
