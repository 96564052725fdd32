/* A stand-in for a new program release: started by the program update's swap, it notes in its
   current folder that it ran and whether it was started as the successor of the old program. */
#include <stdio.h>
#include <stdlib.h>

int main(void) {
  const char* successor = getenv("TAVELO_SUCCESSOR_OF");
  FILE* f = fopen("release_started.txt", "w");
  if (!f) return 1;
  fprintf(f, "successor=%s\n", successor && *successor ? "yes" : "no");
  return fclose(f) == 0 ? 0 : 1;
}
