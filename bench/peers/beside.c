/* The file work of converting many files beside themselves, without the conversion: what two
   workers can gain at best in one folder. beside JOBS FILE... reads each FILE whole and writes a
   third of it to FILE.txt, a new file made unnamed in the folder and linked in under its name,
   as tavrin-convert does on Linux; JOBS threads take the files in turn. The outputs must not
   exist yet. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <pthread.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static char** files;
static size_t count;
static atomic_size_t next;
static atomic_int failed;

static void* Work(void* unused) {
  (void)unused;
  size_t size = 1 << 16;
  char* buffer = malloc(size);
  char name[4096];
  for (size_t i; buffer != NULL && (i = atomic_fetch_add(&next, 1)) < count;) {
    struct stat st;
    const int in = open(files[i], O_RDONLY | O_CLOEXEC);
    if (in < 0 || fstat(in, &st) != 0) goto fail;
    if ((size_t)st.st_size + 1 > size) {
      size = (size_t)st.st_size + 1;
      free(buffer);
      if ((buffer = malloc(size)) == NULL) goto fail;
    }
    const ssize_t got = read(in, buffer, size);
    close(in);
    const char* slash = strrchr(files[i], '/');
    const char* folder = slash == NULL ? "." : files[i];
    if (slash != NULL) *(char*)slash = '\0';
    const int out = open(folder, O_RDWR | O_TMPFILE | O_CLOEXEC, 0666);
    if (slash != NULL) *(char*)slash = '/';
    snprintf(name, sizeof name, "%s.txt", files[i]);
    if (got < 0 || out < 0 || write(out, buffer, (size_t)got / 3) < 0) goto fail;
    if (linkat(out, "", AT_FDCWD, name, AT_EMPTY_PATH) != 0) {
      /* Without the right to link a descriptor, through its name in /proc. */
      char self[64];
      snprintf(self, sizeof self, "/proc/self/fd/%d", out);
      if (linkat(AT_FDCWD, self, AT_FDCWD, name, AT_SYMLINK_FOLLOW) != 0) goto fail;
    }
    if (close(out) != 0) goto fail;
    continue;
  fail:
    atomic_store(&failed, 1);
    break;
  }
  free(buffer);
  return NULL;
}

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const int jobs = atoi(argv[1]);
  files = argv + 2;
  count = (size_t)(argc - 2);
  pthread_t threads[64];
  int started = 0;
  while (started + 1 < jobs && started < 64 &&
         pthread_create(&threads[started], NULL, Work, NULL) == 0) {
    ++started;
  }
  Work(NULL);
  for (int t = 0; t < started; ++t) pthread_join(threads[t], NULL);
  return atomic_load(&failed);
}
