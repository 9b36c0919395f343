// Placeholder translation unit until the library's entry points land.
