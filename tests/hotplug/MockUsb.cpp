#include "MockUsb.h"

#include <QString>

MockUsb::MockUsb(std::function<void()> settle) : testbed_(umockdev_testbed_new()), settle_(std::move(settle)) {}

MockUsb::~MockUsb() { g_object_unref(testbed_); }

namespace {

std::string hex(int value, int width) { return QString::number(value, 16).rightJustified(width, u'0').toStdString(); }

} // namespace

std::string MockUsb::addNode(const std::string& name, const char* parent, const std::vector<std::string>& attributes,
                             const std::vector<std::string>& properties)
{
    std::vector<const gchar*> attrs;
    for (const auto& a : attributes)
        attrs.push_back(a.c_str());
    attrs.push_back(nullptr);
    std::vector<const gchar*> props;
    for (const auto& p : properties)
        props.push_back(p.c_str());
    props.push_back(nullptr);
    gchar* path = umockdev_testbed_add_devicev(testbed_, "usb", name.c_str(), parent,
                                               const_cast<gchar**>(attrs.data()), const_cast<gchar**>(props.data()));
    std::string result = path ? path : "";
    g_free(path);
    settle_();
    return result;
}

std::string MockUsb::addDevice(int vendor, int product, const std::vector<MockInterface>& interfaces)
{
    const std::string name = "1-" + std::to_string(next_++);
    const std::string path = addNode(name, nullptr, {"idVendor", hex(vendor, 4), "idProduct", hex(product, 4)},
                                     {"DEVTYPE", "usb_device", "PRODUCT",
                                      QString::asprintf("%x/%x/0", vendor, product).toStdString()});
    int index = 0;
    for (const MockInterface& i : interfaces) {
        std::vector<std::string> attributes{"bInterfaceSubClass", hex(i.subclass, 2), "bInterfaceNumber",
                                            hex(i.number, 2)};
        if (i.readable)
            attributes.insert(attributes.end(), {"bInterfaceClass", hex(i.interfaceClass, 2)});
        addNode(name + ":1." + std::to_string(index++), path.c_str(), attributes, {"DEVTYPE", "usb_interface"});
    }
    return path;
}

void MockUsb::uevent(const std::string& path, const char* action)
{
    umockdev_testbed_uevent(testbed_, path.c_str(), action);
}

void MockUsb::removeDevice(const std::string& path) { umockdev_testbed_remove_device(testbed_, path.c_str()); }
