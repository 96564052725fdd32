/* A library that looks like FluidSynth by name and writes every channel call it gets, one line
   each, to the file named by FAKE_SYNTH_CALLS. It renders nothing and has no callback driver, so
   messages reach it as they are sent. */
#include <stdio.h>
#include <stdlib.h>

static int g_object;

static void Note(const char* what, int a, int b, int c) {
  const char* path = getenv("FAKE_SYNTH_CALLS");
  FILE* f = path ? fopen(path, "a") : NULL;
  if (!f) return;
  fprintf(f, "%s %d %d %d\n", what, a, b, c);
  fclose(f);
}

void* new_fluid_settings(void) { return &g_object; }
int fluid_settings_setstr(void* s, const char* n, const char* v) { (void)s; (void)n; (void)v; return 0; }
int fluid_settings_setint(void* s, const char* n, int v) { (void)s; (void)n; (void)v; return 0; }
void* new_fluid_synth(void* s) { (void)s; return &g_object; }
void* new_fluid_audio_driver(void* s, void* synth) { (void)s; (void)synth; return &g_object; }
int fluid_synth_sfload(void* s, const char* f, int r) { (void)s; (void)f; (void)r; return 1; }
int fluid_synth_noteon(void* s, int ch, int key, int vel) { (void)s; Note("noteon", ch, key, vel); return 0; }
int fluid_synth_noteoff(void* s, int ch, int key) { (void)s; Note("noteoff", ch, key, 0); return 0; }
int fluid_synth_cc(void* s, int ch, int cc, int v) { (void)s; Note("cc", ch, cc, v); return 0; }
int fluid_synth_program_change(void* s, int ch, int p) { (void)s; Note("program", ch, p, 0); return 0; }
int fluid_synth_pitch_bend(void* s, int ch, int v) { (void)s; Note("bend", ch, v, 0); return 0; }
int fluid_synth_channel_pressure(void* s, int ch, int v) { (void)s; Note("channel_pressure", ch, v, 0); return 0; }
int fluid_synth_key_pressure(void* s, int ch, int key, int v) { (void)s; Note("key_pressure", ch, key, v); return 0; }
