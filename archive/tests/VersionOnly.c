/* Stands in for a compression library that has its version entry point only. */
int GetKilnVersion(void) { return 154; }
int GetSluiceVersion(void) { return 154; }
