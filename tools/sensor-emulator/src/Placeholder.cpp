// placeholder until the emulator lands
namespace orbel::emulator { void EmulatorPlaceholder() {} }
