// A device node map put in front of a device's own (Device::InterposeNodeMap): each write
// is recorded as "Name=value", in order, and passed on; reads are passed on, unless the test
// gave a float node an answer of its own (a camera that reports what the fake one cannot).
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "camera/vendor/Device.h"
#include "camera/vendor/NodeMap.h"

namespace orbel::testing {

class RecordingNodeMap final : public orbel::camera::vendor::NodeMap {
public:
    // Interposes a new recording map on the device, which owns it.
    static RecordingNodeMap& On(orbel::camera::vendor::Device& device) {
        auto map = std::unique_ptr<RecordingNodeMap>(new RecordingNodeMap());
        RecordingNodeMap& recording = *map;
        recording.inner_ = device.InterposeNodeMap(std::move(map));
        return recording;
    }

    const std::vector<std::string>& Writes() const { return writes_; }
    void ClearWrites() { writes_.clear(); }
    void Answer(const std::string& name, double value) { floats_[name] = value; }

    double GetFloat(const std::string& name) override {
        const auto answer = floats_.find(name);
        return answer != floats_.end() ? answer->second : inner_->GetFloat(name);
    }
    std::string GetString(const std::string& name) override { return inner_->GetString(name); }
    bool GetBoolean(const std::string& name) override { return inner_->GetBoolean(name); }
    int64_t GetInteger(const std::string& name) override { return inner_->GetInteger(name); }

    void SetFloat(const std::string& name, double value) override {
        char text[32];
        std::snprintf(text, sizeof text, "%.10g", value);
        Record(name, text);
        inner_->SetFloat(name, value);
    }
    void SetString(const std::string& name, const std::string& value) override {
        Record(name, value);
        inner_->SetString(name, value);
    }
    void SetBoolean(const std::string& name, bool value) override {
        Record(name, value ? "true" : "false");
        inner_->SetBoolean(name, value);
    }
    void SetInteger(const std::string& name, int64_t value) override {
        Record(name, std::to_string(value));
        inner_->SetInteger(name, value);
    }
    void Execute(const std::string& name) override { inner_->Execute(name); }

private:
    RecordingNodeMap() = default;
    // Recorded before it is passed on: a write the camera refuses was still made.
    void Record(const std::string& name, const std::string& value) { writes_.push_back(name + "=" + value); }

    orbel::camera::vendor::NodeMap* inner_ = nullptr;
    std::vector<std::string> writes_;
    std::map<std::string, double> floats_;
};

}  // namespace orbel::testing
