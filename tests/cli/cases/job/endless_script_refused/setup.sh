ln -s /dev/zero z.vkjob
