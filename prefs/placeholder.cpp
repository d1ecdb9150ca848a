namespace kestrelmark_prefs_placeholder {}
