namespace kestrelmark_tray_placeholder {}
