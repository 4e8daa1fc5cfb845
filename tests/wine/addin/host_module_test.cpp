// The library's own lifetime: DllCanUnloadNow says "no" while any object,
// lock or class factory reference lives, including while an object releases
// its members into host code, and an unbalanced LockServer(FALSE) cannot make
// it say "yes" under a live object.
#include <gtest/gtest.h>

#include <vector>

#include "host_sim.h"
#include "import_hook.h"

namespace {

using namespace sim;

using CanUnload = HRESULT(STDAPICALLTYPE*)();

class Module : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(canUnload);
    // Every other test releases what it made; nothing holds the library.
    ASSERT_EQ(canUnload(), S_OK) << "an object or lock of an earlier test is still alive";
  }
  com_ptr<IClassFactory> factory() {
    com_ptr<IClassFactory> f;
    EXPECT_EQ(CoGetClassObject(CLSID_Velmora, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, f.put_void()), S_OK);
    return f;
  }
  const CanUnload canUnload = addinExport<CanUnload>("DllCanUnloadNow");
};

TEST_F(Module, LibraryStaysWhileAnObjectReleasesItsMembersIntoHostCode) {
  std::vector<HRESULT> seen;
  {
    AddIn addin = createAddIn();
    auto conn = make<Connection>();
    ASSERT_EQ(addin.initDone->Init(conn.get()), S_OK);
    EXPECT_EQ(canUnload(), S_FALSE);
    // Host code run by the object's last releases (a host may free unused
    // libraries there) must still find the library in use.
    conn->onRelease = [&](ULONG) { seen.push_back(canUnload()); };
    addin = AddIn{};
    conn->onRelease = nullptr;
    EXPECT_EQ(conn->refs(), 1u);
  }
  ASSERT_FALSE(seen.empty());
  for (HRESULT hr : seen) EXPECT_EQ(hr, S_FALSE);
  EXPECT_EQ(canUnload(), S_OK);
}

TEST_F(Module, UnbalancedLockServerCannotHideALiveObject) {
  auto f = factory();
  ASSERT_TRUE(f);
  EXPECT_EQ(canUnload(), S_FALSE) << "the factory is held";
  f->LockServer(FALSE);  // no matching TRUE
  f->LockServer(FALSE);
  {
    AddIn addin = createAddIn();
    EXPECT_EQ(canUnload(), S_FALSE) << "an object is alive";
  }
  f = nullptr;
  EXPECT_EQ(canUnload(), S_OK);

  // Balanced locks count as before.
  f = factory();
  ASSERT_EQ(f->LockServer(TRUE), S_OK);
  f = nullptr;
  EXPECT_EQ(canUnload(), S_FALSE) << "locked";
  f = factory();
  ASSERT_EQ(f->LockServer(FALSE), S_OK);
  f = nullptr;
  EXPECT_EQ(canUnload(), S_OK);
}

TEST_F(Module, FactoryReleasedMoreOftenThanHeldCannotHideALiveObject) {
  IClassFactory* raw = nullptr;
  ASSERT_EQ(CoGetClassObject(CLSID_Velmora, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                             reinterpret_cast<void**>(&raw)),
            S_OK);
  raw->Release();
  raw->Release();  // one too many: the factory is static, so this is harmless
  AddIn addin = createAddIn();
  EXPECT_EQ(canUnload(), S_FALSE);
  addin = AddIn{};
  EXPECT_EQ(canUnload(), S_OK);
}

}  // namespace
