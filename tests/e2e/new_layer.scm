; The layer a call creates: its box, where it goes in the layer stack, and
; that the returned ID is that layer.

(define (e2e-pattern-image type w h ox oy)
  (let ((im (make-image 32 24 type w h ox oy #f)))
    (fill-drawable (cadr im) (channels-of-type type) (pattern-value (channels-of-type type)) #f)
    im))

(define (e2e-add-layer image parent position name)
  (let ((layer (car (gimp-layer-new image 16 12 RGBA-IMAGE name 100 LAYER-MODE-NORMAL))))
    (gimp-image-insert-layer image layer parent position)
    layer))

; 8.5 source rows onto 10 destination rows: no source position falls on a
; pixel edge, where nearest sampling could go either way.
(define e2e-src-quad (rect 2 2 12 10.5))

(define (e2e-cases)
  (group "box of the grown destination"
    (lambda ()
      (let* ((im (e2e-pattern-image RGBA-IMAGE 16 12 0 0))
             (image (car im)) (src (cadr im))
             (s (source 0 0 16 12 4 (pattern-value 4))))
        ; Corners 10 and 20 grow by about 0.71 to 9.29 and 20.71.
        (let* ((dst (rect 10 10 20 20))
               (layer (tessaform image src e2e-src-quad dst 0)))
          (check "square: offsets (9, 9)" '(9 9) (gimp-drawable-offsets layer))
          (check "square: 13 x 13" '(13 13)
                 (list (car (gimp-drawable-width layer)) (car (gimp-drawable-height layer))))
          (check-new-layer "square" image src layer e2e-src-quad dst 'nearest s #f))
        ; Grown corners reach x 0.60 .. 20.57 and y 1.56 .. 16.08.
        (let* ((dst '((3.25 4.75) (17.5 2.25) (19.75 15.5) (1.5 13.25)))
               (layer (tessaform image src e2e-src-quad dst 0)))
          (check "slanted: offsets (0, 1)" '(0 1) (gimp-drawable-offsets layer))
          (check "slanted: 22 x 17" '(22 17)
                 (list (car (gimp-drawable-width layer)) (car (gimp-drawable-height layer))))
          (check-new-layer "slanted" image src layer e2e-src-quad dst 'nearest s #f))
        ; Above the canvas and left of it: negative offsets, full size.
        (let* ((dst (rect -6.5 -4 3 5.5))
               (layer (tessaform image src e2e-src-quad dst 0)))
          (check "negative: offsets (-8, -5)" '(-8 -5) (gimp-drawable-offsets layer))
          (check "negative: 13 x 13" '(13 13)
                 (list (car (gimp-drawable-width layer)) (car (gimp-drawable-height layer))))))))

  (group "place among top-level layers"
    (lambda ()
      (let* ((im (e2e-pattern-image RGBA-IMAGE 16 12 0 0))
             (image (car im)) (src (cadr im))
             (top (e2e-add-layer image 0 0 "top"))
             (bottom (e2e-add-layer image 0 2 "bottom")))
        ; The active layer is "top": the new layer must still go right above
        ; the drawable, not above the active layer.
        (gimp-image-set-active-layer image top)
        (check "stack before" (list top src bottom) (layers-of image))
        (let ((layer (tessaform image src e2e-src-quad (rect 4 3 14 11) 0)))
          (check "stack after: directly above the drawable" (list top layer src bottom)
                 (layers-of image))))))

  (group "place inside a layer group"
    (lambda ()
      (let* ((im (e2e-pattern-image RGBA-IMAGE 16 12 0 0))
             (image (car im)) (outside (cadr im))
             (grp (car (gimp-layer-group-new image)))
             (dummy (gimp-image-insert-layer image grp 0 0))
             (upper (e2e-add-layer image grp 0 "upper"))
             (src (e2e-add-layer image grp 1 "inner"))
             (lower (e2e-add-layer image grp 2 "lower"))
             (top (e2e-add-layer image 0 0 "top")))
        (fill-drawable src 4 (pattern-value 4) #f)
        (gimp-image-set-active-layer image top)
        (check "group before" (list upper src lower) (children-of grp))
        (let ((layer (tessaform image src e2e-src-quad (rect 4 3 14 11) 1)))
          (check "group after: directly above the drawable" (list upper layer src lower)
                 (children-of grp))
          (check "top level unchanged" (list top grp outside) (layers-of image))
          (check-new-layer "in group" image src layer e2e-src-quad (rect 4 3 14 11)
                           'bilinear (source 0 0 16 12 4 (pattern-value 4)) #f)))))

  (group "place when a layer group is active"
    (lambda ()
      (let* ((im (e2e-pattern-image RGBA-IMAGE 16 12 0 0))
             (image (car im)) (src (cadr im))
             (grp (car (gimp-layer-group-new image)))
             (dummy (gimp-image-insert-layer image grp 0 0))
             (inner (e2e-add-layer image grp 0 "inner")))
        (gimp-image-set-active-layer image grp)
        (let ((layer (tessaform image src e2e-src-quad (rect 4 3 14 11) 0)))
          (check "new layer at top level, above the drawable" (list grp layer src)
                 (layers-of image))
          (check "group unchanged" (list inner) (children-of grp))))))

  ; Script-Fu encodes the lone surrogate 55296 as bytes that are not UTF-8,
  ; which GIMP refuses in a progress text; scripts/e2e.sh checks its output.
  (group "progress label that is not UTF-8"
    (lambda ()
      (let* ((im (e2e-pattern-image RGBA-IMAGE 16 12 0 0))
             (image (car im)) (src (cadr im))
             (label (string #\a (integer->char 55296) #\b))
             (answer (apply plug-in-tessaform
                            (append (list RUN-NONINTERACTIVE image src label)
                                    (flatten-points e2e-src-quad)
                                    (flatten-points (rect 4 3 14 11))
                                    (list 1 0 0)))))
        (check "renders the new layer on top" (list (car answer) src)
               (layers-of image))))))
