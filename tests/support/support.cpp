// Anchor for the test support library.
