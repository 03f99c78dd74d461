#include "Model.h"

#include "Composite.h"

namespace gadget {

bool Model::offers(const QString& function) const
{
    return with([&](sim::Device& device, sim::Transaction&) { return gadget::offers(device, function); });
}

} // namespace gadget
