#include <gtest/gtest.h>

#ifdef _WIN32
#include <objbase.h>
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
  // MSXML is a COM object; the tests use it from this one thread.
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
#endif
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
