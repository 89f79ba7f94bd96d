// An rtld-audit module (LD_AUDIT) that adds to PORTPANEL_RECORD each load of
// libinpout32.so and each symbol looked up in it.
#define _GNU_SOURCE
#include <link.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void record(const char *what, const char *name)
{
    const char *path = getenv("PORTPANEL_RECORD");
    FILE *file = path ? fopen(path, "a") : NULL;
    if (file) {
        fprintf(file, "%s %s\n", what, name);
        fclose(file);
    }
}

unsigned int la_version(unsigned int version) { return version; }

unsigned int la_objopen(struct link_map *map, Lmid_t lmid, uintptr_t *cookie)
{
    (void)lmid;
    (void)cookie;
    if (!strstr(map->l_name, "libinpout32.so"))
        return 0;
    record("load", "libinpout32.so");
    return LA_FLG_BINDTO;
}

uintptr_t la_symbind64(Elf64_Sym *sym, unsigned int ndx, uintptr_t *refcook, uintptr_t *defcook,
                       unsigned int *flags, const char *symname)
{
    (void)ndx;
    (void)refcook;
    (void)defcook;
    (void)flags;
    record("lookup", symname);
    return sym->st_value;
}
