// The fake camera's GenICam description: Aravis's own, extended in place.
#include "orbel/fakecamera/Description.h"

#include <arv.h>

#include <sstream>
#include <stdexcept>

namespace orbel::fakecamera {
namespace {

void Replace(std::string& text, const std::string& anchor, const std::string& replacement) {
    const size_t at = text.find(anchor);
    if (at == std::string::npos) throw std::runtime_error("the installed fake camera description lacks: " + anchor);
    text.replace(at, anchor.size(), replacement);
}

std::string IntReg(const std::string& name, unsigned address) {
    std::ostringstream x;
    x << "\t<IntReg Name=\"" << name << "\" NameSpace=\"Custom\">\n\t\t<Address>0x" << std::hex << address
      << "</Address>\n\t\t<Length>4</Length>\n\t\t<AccessMode>RW</AccessMode>\n\t\t<pPort>Device</pPort>\n"
         "\t\t<Sign>Unsigned</Sign>\n\t\t<Endianess>BigEndian</Endianess>\n\t</IntReg>\n";
    return x.str();
}

std::string FloatNode(const std::string& name, unsigned address) {
    std::ostringstream x;
    x << "\t<Float Name=\"" << name << "\" NameSpace=\"Standard\">\n\t\t<pValue>" << name
      << "Register</pValue>\n\t</Float>\n\t<FloatReg Name=\"" << name
      << "Register\" NameSpace=\"Custom\">\n\t\t<Address>0x" << std::hex << address
      << "</Address>\n\t\t<Length>8</Length>\n\t\t<AccessMode>RW</AccessMode>\n\t\t<pPort>Device</pPort>\n"
         "\t\t<Endianess>BigEndian</Endianess>\n\t</FloatReg>\n";
    return x.str();
}

std::string BooleanNode(const std::string& name, unsigned address) {
    return "\t<Boolean Name=\"" + name + "\" NameSpace=\"Standard\">\n\t\t<pValue>" + name +
           "Register</pValue>\n\t\t<OnValue>1</OnValue>\n\t\t<OffValue>0</OffValue>\n\t</Boolean>\n" +
           IntReg(name + "Register", address);
}

std::string Entry(const std::string& name, unsigned value) {
    return "\t\t<EnumEntry Name=\"" + name + "\" NameSpace=\"Standard\">\n\t\t\t<Value>" + std::to_string(value) +
           "</Value>\n\t\t</EnumEntry>\n";
}

std::string EnumerationNode(const std::string& name, unsigned address,
                            const std::vector<std::pair<std::string, unsigned>>& entries) {
    std::string node = "\t<Enumeration Name=\"" + name + "\" NameSpace=\"Standard\">\n";
    for (const auto& [entry, value] : entries) node += Entry(entry, value);
    node += "\t\t<pValue>" + name + "Register</pValue>\n\t</Enumeration>\n";
    return node + IntReg(name + "Register", address);
}

// Free registers of the fake camera's memory, away from the bootstrap registers.
constexpr unsigned kStorage = 0x4000;

std::string AddedNodes(const std::vector<std::string>& omit) {
    auto wanted = [&](const std::string& name) {
        for (const auto& o : omit)
            if (o == name) return false;
        return true;
    };
    std::string nodes;
    unsigned next = kStorage;
    auto slot = [&](unsigned size) {
        const unsigned at = next;
        next += size;
        return at;
    };
    if (wanted("TimestampLatch")) {
        nodes += "\t<Command Name=\"TimestampLatch\" NameSpace=\"Standard\">\n\t\t<pValue>TimestampLatchRegister"
                 "</pValue>\n\t\t<CommandValue>1</CommandValue>\n\t</Command>\n" +
                 IntReg("TimestampLatchRegister", slot(4));
    }
    const std::vector<std::pair<std::string, unsigned>> autoModes = {{"Off", 0}, {"Once", 1}, {"Continuous", 2}};
    if (wanted("TriggerOverlap"))
        nodes += EnumerationNode("TriggerOverlap", slot(4), {{"Off", 0}, {"ReadOut", 1}, {"PreviousFrame", 2}});
    if (wanted("AcquisitionFrameRateEnable")) nodes += BooleanNode("AcquisitionFrameRateEnable", slot(4));
    if (wanted("AcquisitionFrameRateLinkLimitEnable"))
        nodes += BooleanNode("AcquisitionFrameRateLinkLimitEnable", slot(4));
    if (wanted("TriggerDelay")) nodes += FloatNode("TriggerDelay", slot(8));
    if (wanted("ExposureAuto")) nodes += EnumerationNode("ExposureAuto", slot(4), autoModes);
    if (wanted("ExposureAutoLimitAuto"))
        nodes += EnumerationNode("ExposureAutoLimitAuto", slot(4), {{"Off", 0}, {"Continuous", 1}});
    if (wanted("ExposureAutoLowerLimit")) nodes += FloatNode("ExposureAutoLowerLimit", slot(8));
    if (wanted("ExposureAutoUpperLimit")) nodes += FloatNode("ExposureAutoUpperLimit", slot(8));
    if (wanted("Gain")) nodes += FloatNode("Gain", slot(8));
    if (wanted("BalanceWhiteEnable")) nodes += BooleanNode("BalanceWhiteEnable", slot(4));
    if (wanted("BalanceWhiteAuto")) nodes += EnumerationNode("BalanceWhiteAuto", slot(4), autoModes);
    if (wanted("ExposureTime")) {
        // The fake camera's own exposure register, in whole microseconds, at least 30.
        nodes += "\t<Float Name=\"ExposureTime\" NameSpace=\"Standard\">\n\t\t<pValue>ExposureTimeConverter</pValue>"
                 "\n\t</Float>\n\t<Converter Name=\"ExposureTimeConverter\" NameSpace=\"Custom\">\n"
                 "\t\t<FormulaTo>(FROM &lt; 30) ? 30 : FROM</FormulaTo>\n\t\t<FormulaFrom>TO</FormulaFrom>\n"
                 "\t\t<pValue>ExposureTimeAbsRegister</pValue>\n\t</Converter>\n";
    }
    nodes += IntReg("TriggerModeStorage", slot(4));
    return nodes;
}

}  // namespace

std::string Description(const DescriptionOptions& options) {
    ArvFakeCamera* stock = arv_fake_camera_new("description");
    size_t size = 0;
    const char* xml = arv_fake_camera_get_genicam_xml(stock, &size);
    std::string text(xml ? xml : "", xml ? size : 0);
    g_object_unref(stock);

    const std::string pixelFormats = "\t\t<pValue>PixelFormatRegister</pValue>";
    Replace(text, pixelFormats, Entry("BayerRG12", 0x01100011) + Entry("BayerRG12Packed", 0x010C002B) + pixelFormats);
    if (!options.bayerRG8) {
        Replace(text, Entry("BayerRG8", 0x01080009), "");
    }
    const std::string triggerSources = "\t\t<pValue>TriggerSourceRegister</pValue>";
    Replace(text, triggerSources, Entry("Line2", 2) + triggerSources);
    Replace(text, "<pValue>TriggerModeRegister</pValue>", "<pValue>TriggerModeStorage</pValue>");
    Replace(text, "</RegisterDescription>", AddedNodes(options.omitNodes) + "</RegisterDescription>");
    return text;
}

}  // namespace orbel::fakecamera
