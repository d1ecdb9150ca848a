namespace kestrelmark_platform_placeholder {}
