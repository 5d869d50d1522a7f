// SPDX-License-Identifier: GPL-3.0-or-later
// The IEEE 1394 backend of a build without FireWire support: it lists no camcorders.
#include "mediagraph/video_devices.h"

namespace vantrel::mediagraph {

namespace {

class NoFireWireBackend : public IVideoDeviceBackend {
public:
    Expected<std::vector<std::unique_ptr<IVideoDeviceEntry>>, std::string> Enumerate() override
    {
        return std::vector<std::unique_ptr<IVideoDeviceEntry>>{};
    }
};

}  // namespace

std::shared_ptr<IVideoDeviceBackend> makeFireWireBackend()
{
    return std::make_shared<NoFireWireBackend>();
}

}  // namespace vantrel::mediagraph
