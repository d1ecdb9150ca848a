namespace kestrelmark_ui_placeholder {}
