// Log records carry qualified function names, whatever the compiler decorates.
#include <gtest/gtest.h>

#include "utilities/FunctionName.h"

namespace {

TEST(QualifiedFunctionName, StripsReturnTypeAndParameters) {
    const std::pair<const char*, const char*> cases[] = {
        {"bool orbel::sensor::DataHandler::Handle(orbel::communication::VelmorantMessage&)",
         "orbel::sensor::DataHandler::Handle"},
        {"void orbel::communication::TCPClient::Impl::RunSendThread()",
         "orbel::communication::TCPClient::Impl::RunSendThread"},
        {"std::vector<unsigned char, std::allocator<unsigned char> > orbel::utilities::CaptureRequest::SendAndWait("
         "uint32_t, const milliseconds&)",
         "orbel::utilities::CaptureRequest::SendAndWait"},
        {"orbel::communication::TCPConnection::Impl::StartRead()::<lambda(const std::error_code&, size_t)>",
         "orbel::communication::TCPConnection::Impl::StartRead"},
        {"orbel::sensor::Sensor::Impl::~Impl()", "orbel::sensor::Sensor::Impl::~Impl"},
        {"orbel::sensor::DataHandler::Handle", "orbel::sensor::DataHandler::Handle"},
        {"", ""},
    };
    for (const auto& [signature, expected] : cases)
        EXPECT_EQ(orbel::utilities::QualifiedFunctionName(signature), expected) << signature;
}

TEST(QualifiedFunctionName, NamesTheCallingFunction) {
    EXPECT_EQ(orbel::utilities::QualifiedFunctionName(ORBEL_FUNCTION),
              "{anonymous}::QualifiedFunctionName_NamesTheCallingFunction_Test::TestBody");
}

}  // namespace
