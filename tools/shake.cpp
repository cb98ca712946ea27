// Placeholder: the shake generator is being written.
