// The name lookup that Cancel and the deadline can end (a thread of its own per
// lookup, so this test also runs under ThreadSanitizer).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>

#include "net/uHttpClient.h"
#include "net/uResolve.h"

// A name server that never answers holds getaddrinfo for a long time: the caller's
// checks (Cancel, the deadline) still end the lookup at once, and the abandoned
// lookup frees what it finds when it ends. A name found in time is used; a numeric
// address needs no lookup.
TEST(NameLookup, AHungLookupIsGivenUpWhenTheCallerStops) {
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  auto lookupEnded = std::make_shared<std::atomic<bool>>(false);
  auto hung = [released, lookupEnded](const std::string&, const std::string& port, addrinfo** list) {
    released.wait();
    const int rc = kvnet::SystemLookup("127.0.0.1", port, list);  // a real list to free
    *lookupEnded = true;
    return rc;
  };
  kvnet::TAddressList list(nullptr, freeaddrinfo);
  int checks = 0;
  EXPECT_THROW(kvnet::ResolveStream(
                   "updates.example", "80", list,
                   [&] {
                     if (++checks == 3) throw EHttpError(THttpErrorKind::Aborted, "Cancelled.");
                   },
                   hung, 10),
               EHttpError);
  EXPECT_EQ(checks, 3);
  EXPECT_FALSE(*lookupEnded);
  EXPECT_FALSE(list);
  release.set_value();
  for (int i = 0; i < 500 && !*lookupEnded; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(*lookupEnded);

  auto quick = [](const std::string&, const std::string& port, addrinfo** out) {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    return kvnet::SystemLookup("127.0.0.1", port, out);
  };
  EXPECT_EQ(kvnet::ResolveStream(
                "updates.example", "80", list, [] {}, quick, 5),
            0);
  ASSERT_TRUE(list);
  EXPECT_EQ(list->ai_socktype, SOCK_STREAM);

  bool looked = false;
  auto never = [&looked](const std::string&, const std::string&, addrinfo**) {
    return looked = true, EAI_FAIL;
  };
  EXPECT_EQ(kvnet::ResolveStream(
                "127.0.0.1", "80", list, [] {}, never),
            0);
  EXPECT_TRUE(list);
  EXPECT_FALSE(looked);
  EXPECT_NE(kvnet::ResolveStream(
                "updates.example", "80", list, [] {}, never),
            0);
  EXPECT_FALSE(list);
}
