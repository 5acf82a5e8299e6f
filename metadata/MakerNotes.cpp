// Filled in by the metadata readers.
