// The substitute client library against the stand-in's engine run in-process.

#include <gtest/gtest.h>

#include "standin_harness.h"

namespace velmar::test {
namespace {

constexpr DWORD kSampleRequest = 2;

TEST(StandinClient, OpenLogsItsArgumentsAndDeliversTheOpenRecordFirst) {
    InProcessStandin standin;
    TestClient client("Velmar \"Tracker\"");
    ASSERT_TRUE(client.opened());
    add_sample_definition(client.handle());
    const auto records = client.drain();
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.front().id(), static_cast<DWORD>(SIMCONNECT_RECV_ID_OPEN));
    EXPECT_EQ(records.front().size, sizeof(SIMCONNECT_RECV_OPEN));

    const auto log = standin.log_lines();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[0], "SimConnect_Open \"Velmar \\\"Tracker\\\"\" 0 0 0 0 -> 0");
    EXPECT_EQ(log[1], "SimConnect_AddToDataDefinition 0 \"PLANE ALTITUDE\" \"feet\" 4 0 4294967295 -> 0");
}

TEST(StandinClient, ChangedRequestSendsTheFirstFrameAndThenOnlyChanges) {
    InProcessStandin standin;
    TestClient client;
    ASSERT_TRUE(client.opened());
    add_sample_definition(client.handle());
    standin.control("freeze on");
    ASSERT_EQ(SimConnect_RequestDataOnSimObject(client.handle(), kSampleRequest, 0, SIMCONNECT_OBJECT_ID_USER,
                                                SIMCONNECT_PERIOD_VISUAL_FRAME, SIMCONNECT_DATA_REQUEST_FLAG_CHANGED),
              S_OK);
    auto records = client.collect_ids(SIMCONNECT_RECV_ID_SIMOBJECT_DATA, 1);
    ASSERT_EQ(records.back().id(), static_cast<DWORD>(SIMCONNECT_RECV_ID_SIMOBJECT_DATA));
    EXPECT_EQ(records.back().doubles().size(), 9u);
    // Frozen: later frames change nothing, so nothing more arrives.
    standin.control("wait 200");
    EXPECT_TRUE(client.drain().empty());

    standin.control("freeze off");
    records = client.collect_ids(SIMCONNECT_RECV_ID_SIMOBJECT_DATA, 2);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_GT(records[1].doubles()[0], records[0].doubles()[0]);  // climbing
}

TEST(StandinClient, NothingListeningFailsAndLeavesTheHandleAlone) {
    int port = 0;
    {
        InProcessStandin standin;
        port = standin.port();
    }
    ::setenv("SIMCONNECT_STANDIN_PORT", std::to_string(port).c_str(), 1);
    HANDLE handle = reinterpret_cast<HANDLE>(0x1234);
    EXPECT_EQ(SimConnect_Open(&handle, "nobody", nullptr, 0, nullptr, 0), E_FAIL);
    EXPECT_EQ(handle, reinterpret_cast<HANDLE>(0x1234));
}

}  // namespace
}  // namespace velmar::test
