// libFuzzer's set-up hook: nothing to set up, the targets keep their state
// in what they call.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  return 0;
}
