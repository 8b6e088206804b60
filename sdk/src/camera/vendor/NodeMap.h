// Node maps of a device and the generic access to their nodes by name:
// GetNodeValue / SetNodeValue for double, text, bool and signed 64-bit values,
// and ExecuteNode for commands. A device has three maps: its own GenICam
// features (the device node map), the transport layer's device settings and
// the transport layer's stream settings. Every failure (no such node, a node of
// another kind, a value the node refuses, a device that does not answer) is a
// GenericException whose description says which node. Access to one device's
// maps is serialised by the device.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>

#include "camera/vendor/GenericException.h"

namespace orbel::camera::vendor {

class NodeMap {
public:
    virtual ~NodeMap();

    virtual double GetFloat(const std::string& name) = 0;
    virtual std::string GetString(const std::string& name) = 0;
    virtual bool GetBoolean(const std::string& name) = 0;
    virtual int64_t GetInteger(const std::string& name) = 0;

    virtual void SetFloat(const std::string& name, double value) = 0;
    virtual void SetString(const std::string& name, const std::string& value) = 0;
    virtual void SetBoolean(const std::string& name, bool value) = 0;
    virtual void SetInteger(const std::string& name, int64_t value) = 0;

    virtual void Execute(const std::string& name) = 0;
};

namespace detail {
inline NodeMap& Checked(NodeMap* map, const std::string& name) {
    if (map == nullptr) throw GenericException("[" + name + "] no node map");
    return *map;
}
template <typename T>
inline constexpr bool kNodeType = std::is_same_v<T, double> || std::is_same_v<T, std::string> ||
                                  std::is_same_v<T, bool> || std::is_same_v<T, int64_t>;
}  // namespace detail

template <typename T>
T GetNodeValue(NodeMap* map, const std::string& name) {
    static_assert(detail::kNodeType<T>, "nodes hold double, std::string, bool or int64_t");
    NodeMap& m = detail::Checked(map, name);
    if constexpr (std::is_same_v<T, double>) return m.GetFloat(name);
    if constexpr (std::is_same_v<T, std::string>) return m.GetString(name);
    if constexpr (std::is_same_v<T, bool>) return m.GetBoolean(name);
    if constexpr (std::is_same_v<T, int64_t>) return m.GetInteger(name);
}

template <typename T>
void SetNodeValue(NodeMap* map, const std::string& name, const T& value) {
    static_assert(detail::kNodeType<T>, "nodes hold double, std::string, bool or int64_t");
    NodeMap& m = detail::Checked(map, name);
    if constexpr (std::is_same_v<T, double>) m.SetFloat(name, value);
    if constexpr (std::is_same_v<T, std::string>) m.SetString(name, value);
    if constexpr (std::is_same_v<T, bool>) m.SetBoolean(name, value);
    if constexpr (std::is_same_v<T, int64_t>) m.SetInteger(name, value);
}

inline void ExecuteNode(NodeMap* map, const std::string& name) { detail::Checked(map, name).Execute(name); }

}  // namespace orbel::camera::vendor
